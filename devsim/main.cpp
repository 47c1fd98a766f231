// q9m-devsim: the simulated Q9m on real MIDI ports (the ALSA sequencer through alsa-lib when it
// can be opened, else librtmidi's JACK ports) or on the device's end of a raw MIDI device, for
// running the updater against it by hand or from scripts. See Usage for the options and the exit
// status.
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devsim/command_line.h"
#include "devsim/raw_midi_device.h"
#include "devsim/report_format.h"
#include "devsim/seq_midi_device.h"
#include "devsim/simulated_device.h"
#include "devsim/sysex_assembler.h"

namespace {

using namespace q9m::devsim;
using Clock = std::chrono::steady_clock;

std::atomic<bool> stopRequested{false};

void OnSignal(int) {
  stopRequested = true;
}

void OnMidiIn(double, std::vector<unsigned char>* message, void* user) {
  if (message != nullptr) static_cast<SysExAssembler*>(user)->Add(message->data(), message->size());
}

void OnRtMidiError(RtMidiError::Type type, const std::string& text, void*) {
  std::fprintf(
      stderr, "q9m-devsim: MIDI %s: %s\n",
      type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING ? "warning" : "error",
      text.c_str());
}

// Sends one message at a time and no more than kBudgetBytes per kWindow: RtMidi's JACK
// output drops, without a word, a message that does not fit its 16 KiB ring buffer.
class PacedOutput {
 public:
  explicit PacedOutput(RtMidiOut& out) : out_(out) {}

  void Send(const uint8_t* bytes, size_t n) {
    const auto now = Clock::now();
    if (now - windowStart_ >= kWindow) {
      windowStart_ = now;
      windowBytes_ = 0;
    }
    if (windowBytes_ > 0 && windowBytes_ + n > kBudgetBytes) {
      std::this_thread::sleep_until(windowStart_ + kWindow);
      windowStart_ = Clock::now();
      windowBytes_ = 0;
    }
    try {
      out_.sendMessage(bytes, n);
    } catch (const RtMidiError& error) {
      std::fprintf(stderr, "q9m-devsim: send failed: %s\n", error.getMessage().c_str());
    }
    windowBytes_ += n;
  }

 private:
  static constexpr size_t kBudgetBytes = 2048;
  static constexpr auto kWindow = std::chrono::milliseconds(10);
  RtMidiOut& out_;
  Clock::time_point windowStart_{};
  size_t windowBytes_ = 0;
};

bool CompiledWith(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (const RtMidi::Api a : apis) {
    if (a == api) return true;
  }
  return false;
}

// A JACK client that stays open for the device's whole life, opened first to learn whether a
// JACK server answers: RtMidi's JACK ports need one, and without one fail late.
//
// It is not closed until the device ends because of how jackd hands out client numbers. The
// clients of one process share libjack's table of wake-up objects, indexed by client number.
// RtMidi opens two clients here. When another client of the server closes while this process
// opens its second one, that number may go to the new client, while the first client's thread
// still applies the old owner's removal or arrival to the shared entry; the new client then
// waits on the wrong object and is never run again (seen under load: "was not finished, state
// = Triggered" every period, and the updater's connection to that port never carried).
// So a device closes no client while it or another device starts, and the test scripts start
// one device at a time. The name is this process's own: jackd lets two clients that open under
// one name at the same moment both have it.
struct CloseJackClient {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackProbe = std::unique_ptr<jack_client_t, CloseJackClient>;

struct JackPorts {
  JackProbe jack;  // declared first, so it closes after RtMidi's clients
  std::unique_ptr<RtMidiIn> in;
  std::unique_ptr<RtMidiOut> out;
};

// Opens the virtual ports on JACK, for a machine without the ALSA sequencer. One client per
// direction: JACK refuses two ports of the same name in one client.
JackPorts OpenJackPorts(const CommandLine& line) {
  JackPorts ports;
  if (!CompiledWith(RtMidi::UNIX_JACK)) {
    throw RtMidiError("neither the ALSA sequencer nor JACK can be used",
                      RtMidiError::NO_DEVICES_FOUND);
  }
  const std::string probeName = "q9m-devsim-" + std::to_string(getpid());
  ports.jack.reset(jack_client_open(probeName.c_str(), JackNoStartServer, nullptr));
  if (!ports.jack) {
    throw RtMidiError("the ALSA sequencer cannot be opened and no JACK server is running",
                      RtMidiError::NO_DEVICES_FOUND);
  }
  ports.in =
      std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "q9m-devsim-in" + line.clientSuffix, 4096);
  ports.out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "q9m-devsim-out" + line.clientSuffix);
  ports.in->setErrorCallback(OnRtMidiError, nullptr);
  ports.out->setErrorCallback(OnRtMidiError, nullptr);
  ports.in->ignoreTypes(false, true, true);  // System Exclusive in; clock and sensing out
  ports.in->openVirtualPort(line.inPort);
  ports.out->openVirtualPort(line.outPort);
  return ports;
}

bool WriteJson(const std::string& path, const std::string& json) {
  if (path == "-") {
    std::fputs(json.c_str(), stdout);
    return true;
  }
  std::ofstream file(path, std::ios::trunc);
  file << json;
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 0 ? argv[0] : "q9m-devsim";
  const ParsedCommandLine parsed =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.line) {
    std::fprintf(stderr, "q9m-devsim: %s\n%s", parsed.error.c_str(), Usage(program).c_str());
    return 2;
  }
  const CommandLine& line = *parsed.line;
  if (line.help) {
    std::fputs(Usage(program).c_str(), stdout);
    return 0;
  }

  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  DeviceOptions options = line.device;
  options.linkMayLoseMessages = true;  // real ports
  options.hostSendTimesUnknown = line.intakeBytesPerSecond > 0;
  SimulatedDevice device(options);
  SysExAssembler assembler([&device](const uint8_t* bytes, size_t n) { device.Receive(bytes, n); });
  const uint8_t* code = line.device.code.data();
  RawMidiDevice raw;
  SeqMidiDevice seq;
  bool onSeq = false;
  JackPorts jack;
  std::optional<PacedOutput> output;
  if (line.rawDevice) {
    const std::string error = raw.Open(*line.rawDevice);
    if (!error.empty()) {
      std::fprintf(stderr, "q9m-devsim: %s\n", error.c_str());
      return 1;
    }
    device.Start([&raw](const uint8_t* bytes, size_t n) { raw.Write(bytes, n); });
    raw.Start([&assembler](const uint8_t* bytes, size_t n) { assembler.Add(bytes, n); },
              RawIntake{line.intakeBytesPerSecond, line.intakeSlowBytes});
    std::fprintf(stderr, "q9m-devsim: device %02X %02X %02X %02X on raw MIDI device %s\n", code[0],
                 code[1], code[2], code[3], raw.Name().c_str());
  } else {
    // Only tried when the sequencer device is there: otherwise alsa-lib prints errors.
    std::string seqError = "/dev/snd/seq cannot be opened";
    if (access("/dev/snd/seq", R_OK | W_OK) == 0) {
      seqError = seq.Open(line.inPort, line.outPort, line.clientSuffix);
      onSeq = seqError.empty();
    }
    if (onSeq) {
      device.Start([&seq](const uint8_t* bytes, size_t n) { seq.Write(bytes, n); });
      seq.Start([&assembler](const uint8_t* bytes, size_t n) { assembler.Add(bytes, n); },
                [&assembler] { assembler.Abandon(); });
    } else {
      try {
        jack = OpenJackPorts(line);
      } catch (const RtMidiError& error) {
        std::fprintf(stderr, "q9m-devsim: cannot open the MIDI ports: %s (%s)\n",
                     error.getMessage().c_str(), seqError.c_str());
        return 1;
      }
      output.emplace(*jack.out);
      device.Start([&output](const uint8_t* bytes, size_t n) { output->Send(bytes, n); });
      jack.in->setCallback(OnMidiIn, &assembler);
    }
    std::fprintf(stderr,
                 "q9m-devsim: device %02X %02X %02X %02X on %s, listening on '%s', answering "
                 "on '%s'\n",
                 code[0], code[1], code[2], code[3], onSeq ? "ALSA sequencer" : "JACK",
                 line.inPort.c_str(), line.outPort.c_str());
  }

  const auto started = Clock::now();
  std::string reason = "stopped by a signal";
  while (!stopRequested) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (line.rawDevice && !raw.Failure().empty()) {
      reason = raw.Failure();
      break;
    }
    if (line.exitAfterEnd && device.EndReceived() && device.Idle()) {
      reason = "EndUpdate handled";
      break;
    }
    if (line.timeoutSeconds > 0 &&
        Clock::now() - started >= std::chrono::duration<double>(line.timeoutSeconds)) {
      reason = "timed out";
      break;
    }
  }

  if (line.rawDevice) {
    raw.Close();
    device.Stop();
    if (raw.SlowIntakeSeconds() > 0) {
      const double busy = static_cast<double>(line.intakeSlowBytes) / line.intakeBytesPerSecond;
      std::fprintf(stderr,
                   "q9m-devsim: took in the first %llu bytes at %u bytes/s in %.2f s: busy "
                   "taking in %.1f%% of the time\n",
                   static_cast<unsigned long long>(line.intakeSlowBytes), line.intakeBytesPerSecond,
                   raw.SlowIntakeSeconds(), 100 * busy / raw.SlowIntakeSeconds());
    }
  } else if (onSeq) {
    device.Stop();  // first: its thread may be answering; input after Stop is ignored
    seq.Close();
    std::fprintf(stderr, "q9m-devsim: sequencer input: %llu events, %llu input errors\n",
                 static_cast<unsigned long long>(seq.EventsIn()),
                 static_cast<unsigned long long>(seq.InputErrors()));
  } else {
    jack.in->cancelCallback();
    jack.in->closePort();
    device.Stop();
    jack.out->closePort();
  }
  const DeviceReport report = device.Report();
  const std::string text = ReportText(report);
  FILE* textOut = line.jsonPath && *line.jsonPath == "-" ? stderr : stdout;
  std::fprintf(textOut, "q9m-devsim: %s\n%s", reason.c_str(), text.c_str());
  std::fflush(textOut);
  if (line.jsonPath && !WriteJson(*line.jsonPath, ReportJson(report))) {
    std::fprintf(stderr, "q9m-devsim: cannot write %s\n", line.jsonPath->c_str());
    return 1;
  }
  return report.Passed() ? 0 : 1;
}
