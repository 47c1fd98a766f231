// A whole update over JACK next to the least any host could take. On a private server (dummy
// driver, 48 kHz, 64 frames a period), q9m-devsim is the device; each iteration runs, against a
// fresh q9m-devsim on the same server:
// - minimal_s: a minimal host, a raw JACK client that sends each message of the update (with
//   the fixed pause after BeginUpdate) in its process callback and sends the next as soon as
//   its process callback has seen the reply: send, wait for the reply, next;
// - updater_s: the updater's session (worker, dispatcher, ports, JACK backend), from Execute
//   to the worker giving the controls back.
// Both count only when the device verifies a complete update. ratio = updater_s / minimal_s.
// At 64 frames the dummy driver's cycles sometimes run late on a virtual machine, and a message
// in such a cycle is lost; each host then sends the block again after the block time-out (the
// updater also waits out the window for a late reply), which costs seconds. The runs in which
// that happened are counted, and ratio_without_loss compares the iterations where it did not.
#include <benchmark/benchmark.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/update_run.h"
#include "firmware/firmware_images.h"
#include "firmware/flash_plan.h"
#include "midi/midi_out_port.h"
#include "platform/jack/jack_backend.h"
#include "platform/midi_service.h"
#include "platform/sync.h"
#include "protocol/messages.h"
#include "protocol/update_worker.h"
#include "tests/support/jack_server.h"

namespace {

using namespace q9m;
using Clock = std::chrono::steady_clock;

constexpr int kPeriodFrames = 64;
constexpr const char* kDevicePort = "USB Audio Device";

// q9m-devsim on the server, ending by itself once the update has ended; its exit status says
// whether it verified a complete update, and its report how many blocks came twice.
class Devsim {
 public:
  Devsim() : report_(std::tmpfile()) {
    pid_ = fork();
    if (pid_ == 0) {
      if (report_ != nullptr) dup2(fileno(report_), STDOUT_FILENO);
      execl(Q9M_DEVSIM_PATH, Q9M_DEVSIM_PATH, "--exit-after-end", "--timeout", "600",
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Devsim() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (report_ != nullptr) std::fclose(report_);
  }
  // Waits for its end: true when it verified a complete update.
  bool Verified() {
    int status = 0;
    ended_ = waitpid(pid_, &status, 0) == pid_;
    return ended_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  // Blocks that the device acknowledged again after the end: each is a message or a reply
  // that the server lost in a cycle that ran late, and the host's block time-out that followed.
  int RepeatedBlocks() const {
    if (report_ == nullptr) return -1;
    std::rewind(report_);
    char line[512];
    while (std::fgets(line, sizeof line, report_) != nullptr) {
      unsigned written = 0, planned = 0;
      int repeats = -1;
      if (std::sscanf(line, "blocks: %u of %u written, %d repeats", &written, &planned, &repeats) ==
          3) {
        return repeats;
      }
    }
    return -1;
  }

 private:
  std::FILE* report_;
  pid_t pid_ = -1;
  bool ended_ = false;
};

// Every message of an update, in order, as the worker sends them when all goes well.
std::vector<std::vector<uint8_t>> UpdateMessages(uint8_t model) {
  std::vector<std::vector<uint8_t>> messages;
  auto add = [&](auto build) {
    std::vector<uint8_t> message(protocol::kMaxWriteBlockLength);
    message.resize(build(message.data()));
    messages.push_back(std::move(message));
  };
  add([](uint8_t* d) {
    std::copy(protocol::kIdentityRequest.begin(), protocol::kIdentityRequest.end(), d);
    return protocol::kIdentityRequest.size();
  });
  add([&](uint8_t* d) { return protocol::BuildBeginUpdate(d, model); });
  add([&](uint8_t* d) {
    return protocol::BuildReadRequest(d, model, firmware::kVersionAddress,
                                      firmware::kVersionLength);
  });
  for (const firmware::FlashStep& row : firmware::FlashPlan) {
    if (row.kind == firmware::kEraseStep) {
      add([&](uint8_t* d) { return protocol::BuildEraseRange(d, model, row.address, row.size); });
      continue;
    }
    const auto image = firmware::FindImage(row.imageId);
    if (!image) return {};
    const uint32_t total = row.size != 0 ? row.size : static_cast<uint32_t>(image->length);
    for (uint32_t offset = 0; offset < total; offset += protocol::kWriteBlockSize) {
      const uint32_t n = std::min(protocol::kWriteBlockSize, total - offset);
      add([&](uint8_t* d) {
        return protocol::BuildWriteBlock(d, model, row.address + offset, image->bytes + offset, n);
      });
    }
  }
  add([&](uint8_t* d) { return protocol::BuildEndUpdate(d, model); });
  return messages;
}

// A raw JACK client with one output and one input port: the process callback writes the posted
// message into the cycle and counts the System Exclusive messages that come in.
class MinimalHost {
 public:
  ~MinimalHost() {
    if (client_ != nullptr) jack_client_close(client_);
  }

  bool Open() {
    client_ = jack_client_open("q9m-minimal-host", JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (out_ == nullptr || in_ == nullptr) return false;
    jack_set_process_callback(client_, &OnProcess, this);
    if (jack_activate(client_) != 0) return false;
    const std::string deviceIn = DevicePort(JackPortIsInput);
    const std::string deviceOut = DevicePort(JackPortIsOutput);
    return !deviceIn.empty() && !deviceOut.empty() &&
           jack_connect(client_, jack_port_name(out_), deviceIn.c_str()) == 0 &&
           jack_connect(client_, deviceOut.c_str(), jack_port_name(in_)) == 0;
  }

  // Sends `message` and waits for the next reply; false after the worker's block time-out
  // without one.
  bool Exchange(const std::vector<uint8_t>& message) {
    const uint32_t before = replies_.load(std::memory_order_acquire);
    message_ = &message;
    posted_.store(true, std::memory_order_release);
    const auto deadline = Clock::now() + std::chrono::milliseconds(protocol::kWriteReplyTimeoutMs);
    timedOut_ = false;
    for (uint32_t seen; (seen = replies_.load(std::memory_order_acquire)) == before;) {
      if (Clock::now() > deadline) {
        timedOut_ = true;
        return false;
      }
      platform::SleepWhileWordIs(reinterpret_cast<const uint32_t*>(&replies_), seen, 1);
    }
    return true;
  }
  bool LastTimedOut() const { return timedOut_; }

 private:
  std::string DevicePort(unsigned long flags) const {
    const char** names = jack_get_ports(client_, kDevicePort, JACK_DEFAULT_MIDI_TYPE, flags);
    std::string name = names != nullptr && names[0] != nullptr ? names[0] : "";
    if (names != nullptr) jack_free(names);
    return name;
  }

  static int OnProcess(jack_nframes_t frames, void* self) {
    auto* host = static_cast<MinimalHost*>(self);
    void* out = jack_port_get_buffer(host->out_, frames);
    jack_midi_clear_buffer(out);
    if (host->posted_.load(std::memory_order_acquire)) {
      const std::vector<uint8_t>& m = *host->message_;
      if (jack_midi_event_write(out, 0, m.data(), m.size()) == 0) host->posted_.store(false);
    }
    void* in = jack_port_get_buffer(host->in_, frames);
    const uint32_t events = jack_midi_get_event_count(in);
    for (uint32_t i = 0; i < events; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, in, i) != 0 || event.size == 0) continue;
      // A reply ends with F7, whether it came in one event or several.
      if (event.buffer[event.size - 1] == protocol::kSysExEnd) {
        host->replies_.fetch_add(1, std::memory_order_acq_rel);
        platform::WakeWordWaiters(reinterpret_cast<const uint32_t*>(&host->replies_));
      }
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  const std::vector<uint8_t>* message_ = nullptr;
  std::atomic<bool> posted_{false};
  std::atomic<uint32_t> replies_{0};
  bool timedOut_ = false;
};
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

// Waits until q9m-devsim's ports are on the server. One client looks, and closes only once the
// device's ports are open: a client that closes while q9m-devsim opens its two clients can
// leave one of them never run by the server.
bool WaitForDevice() {
  jack_client_t* probe = jack_client_open("q9m-bench-probe", JackNoStartServer, nullptr);
  if (probe == nullptr) return false;
  bool there = false;
  for (int i = 0; i < 100 && !there; ++i) {
    const char** names = jack_get_ports(probe, kDevicePort, JACK_DEFAULT_MIDI_TYPE, 0);
    there = names != nullptr && names[0] != nullptr && names[1] != nullptr;
    if (names != nullptr) jack_free(names);
    if (!there) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  jack_client_close(probe);
  return there;
}

// One whole update: its seconds (negative when it did not complete) and the blocks that the
// device took twice because the server lost a message or a reply.
struct Run {
  double seconds = -1;
  int repeatedBlocks = -1;
};

Run RunMinimalHost(const std::vector<std::vector<uint8_t>>& messages) {
  Devsim device;
  if (!WaitForDevice()) return {};
  MinimalHost host;
  if (!host.Open()) return {};
  // New connections take effect at a later cycle; the updater's ports wait for that too.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = Clock::now();
  for (size_t i = 0; i < messages.size(); ++i) {
    // A loaded machine can make a client miss a cycle, and its events with it. A block is sent
    // again after the worker's time-out, as the worker does; any other loss ends the run.
    const bool block = messages[i][protocol::kCommandOffset] == protocol::kWriteBlockCommand;
    int sends = 1;
    while (!host.Exchange(messages[i]) && block && sends < 32) ++sends;
    if (host.LastTimedOut()) {
      std::fprintf(stderr, "minimal host: no reply to message %zu of %zu\n", i, messages.size());
      return {};
    }
    if (i == 1) {  // BeginUpdate
      std::this_thread::sleep_for(std::chrono::milliseconds(protocol::kPauseAfterBeginUpdateMs));
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!device.Verified()) return {};
  return {seconds, device.RepeatedBlocks()};
}

std::optional<uint32_t> IndexOf(uint32_t count, void (*name)(uint32_t, char*)) {
  for (uint32_t i = 0; i < count; ++i) {
    char buffer[midi::kPortNameBufferSize] = {};
    name(i, buffer);
    if (std::string(buffer).find(kDevicePort) != std::string::npos) return i;
  }
  return std::nullopt;
}

Run RunUpdater() {
  Devsim device;
  if (!WaitForDevice()) return {};
  std::string why;
  auto backend = platform::MakeJackBackend("q9m-bench", &why);
  if (!backend) return {};
  platform::StartMidiService(backend);
  const auto out = IndexOf(midi::MidiOutPort::GetDeviceCount(), &midi::MidiOutPort::GetDeviceName);
  const auto in = IndexOf(midi::MidiInPort::GetDeviceCount(), &midi::MidiInPort::GetDeviceName);
  bench::UpdateResult run;
  if (out && in) run = bench::RunSessionUpdate(*out, *in);
  platform::StopMidiService();
  const bool verified = device.Verified();
  if (!run.ended || !run.completed || run.error != 0 || !verified) return {};
  return {run.wallSeconds, device.RepeatedBlocks()};
}

void BM_UpdateOverJack(benchmark::State& state) {
  setenv("Q9M_ALLOW_STAND_IN_IMAGES", "1", 1);  // the device is simulated
  std::string error;
  auto server = testing::JackServer::Start(&error, kPeriodFrames);
  if (!server) {
    state.SkipWithError(("no JACK server: " + error).c_str());
    return;
  }
  const auto messages = UpdateMessages(firmware::AcceptedDeviceCodes[0][0]);
  double minimal = 0, updater = 0, worstRatio = 0, failed = 0;
  double cleanMinimal = 0, cleanUpdater = 0, cleanRuns = 0, minimalLosses = 0, updaterLosses = 0;
  for (auto _ : state) {
    // A run that lost a message to a missed cycle beyond the worker's resends does not count;
    // up to two more are tried.
    Run m = RunMinimalHost(messages);
    for (int again = 0; m.seconds <= 0 && again < 2; ++again) {
      ++failed;
      m = RunMinimalHost(messages);
    }
    const Run u = RunUpdater();
    if (m.seconds <= 0 || u.seconds <= 0) {
      state.SkipWithError(m.seconds <= 0 ? "the minimal host's update did not complete"
                                         : "the updater's update did not complete");
      return;
    }
    state.SetIterationTime(u.seconds);
    minimal += m.seconds;
    updater += u.seconds;
    worstRatio = std::max(worstRatio, u.seconds / m.seconds);
    minimalLosses += m.repeatedBlocks != 0;
    updaterLosses += u.repeatedBlocks != 0;
    // Where the server lost nothing in either run, the two hosts' own work is compared alone.
    if (m.repeatedBlocks == 0 && u.repeatedBlocks == 0) {
      cleanMinimal += m.seconds;
      cleanUpdater += u.seconds;
      ++cleanRuns;
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["minimal_s"] = minimal / n;
  state.counters["updater_s"] = updater / n;
  state.counters["ratio"] = updater / minimal;
  state.counters["worst_ratio"] = worstRatio;
  state.counters["minimal_runs_failed"] = failed;
  // Iterations in which the server lost a message or reply of that host (a block then went
  // twice, after the block time-out), and the ratio over the iterations in which neither lost.
  state.counters["minimal_runs_with_loss"] = minimalLosses;
  state.counters["updater_runs_with_loss"] = updaterLosses;
  state.counters["runs_without_loss"] = cleanRuns;
  state.counters["ratio_without_loss"] = cleanRuns > 0 ? cleanUpdater / cleanMinimal : 0;
}
BENCHMARK(BM_UpdateOverJack)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
