// The ALSA backend against the kernel, in the test VM with three emulated USB MIDI devices
// (gadgets 0 to 2, all named "USB Audio Device"): what only the kernel shows. Run by
// fault_scenarios.sh, one test per step, in the order given there.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/alsa/alsa_backend.h"
#include "platform/midi_service.h"

namespace q9m::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kClient = "q9m-vm-fault-test";

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string Gadget(const std::string& what, int gadget) {
  const char* script = std::getenv("Q9M_VM_GADGET");
  return script ? Shell(std::string(script) + " " + what + " " + std::to_string(gadget)) : "";
}

// The text of the host side's /proc/asound/cardN/midi0 for a gadget.
std::string HostMidiText(int gadget) {
  std::ifstream file("/proc/asound/card" + Gadget("host-card", gadget) + "/midi0");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// True when this process holds the host side's raw MIDI output of the gadget.
bool OutputOpenedByUs(int gadget) {
  const std::string text = HostMidiText(gadget);
  const size_t output = text.find("Output 0");
  const size_t owner = text.find("Owner PID", output);
  if (output == std::string::npos || owner == std::string::npos) return false;
  return std::atoi(text.c_str() + text.find(':', owner) + 1) == getpid();
}

class AlsaVmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("Q9M_VM") == nullptr) GTEST_SKIP() << "runs in the ALSA test VM";
    std::string why;
    backend_ = MakeAlsaBackend(kClient, &why);
    ASSERT_TRUE(backend_) << why;
    StartMidiService(backend_);
    List();
  }
  void TearDown() override { StopMidiService(); }

  // What the dialog does: counts the ports and reads each one's record.
  void List() {
    for (uint32_t i = 0; i < midiOutGetNumDevs(); ++i) {
      MIDIOUTCAPSA caps;
      midiOutGetDevCapsA(i, &caps, sizeof caps);
    }
    for (uint32_t i = 0; i < midiInGetNumDevs(); ++i) {
      MIDIINCAPSA caps;
      midiInGetDevCapsA(i, &caps, sizeof caps);
    }
  }
  // The listed index of gadget `g`'s port: its card's long name says where it is plugged in.
  uint32_t OutputOf(int g) {
    return PortOf(g, backend_->OutputCount(), &MidiBackend::OutputIdentity);
  }
  uint32_t InputOf(int g) { return PortOf(g, backend_->InputCount(), &MidiBackend::InputIdentity); }
  uint32_t PortOf(int g, uint32_t count,
                  std::optional<std::string> (MidiBackend::*identity)(uint32_t)) {
    const std::string where = "dummy_hcd." + std::to_string(g) + "-";
    for (uint32_t i = 0; i < count; ++i) {
      if (((*backend_).*identity)(i).value_or("").find(where) != std::string::npos) return i;
    }
    ADD_FAILURE() << "no port of gadget " << g;
    return UINT32_MAX;
  }

  std::shared_ptr<MidiBackend> backend_;
};

// A program of its own on the sequencer, subscribed to a device's port both ways, as a sound
// server or a bridge is: snd-seq-midi then holds the raw device, and the updater must go
// through the sequencer.
class OtherProgram {
 public:
  OtherProgram() {
    EXPECT_GE(snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
    snd_seq_set_client_name(seq_, "monitor");
    port_ =
        snd_seq_create_simple_port(seq_, "monitor",
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    EXPECT_GE(port_, 0);
  }
  ~OtherProgram() { snd_seq_close(seq_); }

  // Holds the raw MIDI device of the card's first port both ways.
  void Hold(int card) {
    const int client = 16 + 4 * card;  // a card's kernel client
    EXPECT_GE(snd_seq_connect_to(seq_, port_, client, 0), 0);
    EXPECT_GE(snd_seq_connect_from(seq_, port_, client, 0), 0);
  }
  // The address of a port named `port` of the updater's clients, or client -1.
  snd_seq_addr_t UpdaterPort(const std::string& port) {
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* info = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&info);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
      if (std::string(snd_seq_client_info_get_name(client)) != kClient) continue;
      snd_seq_port_info_set_client(info, snd_seq_client_info_get_client(client));
      snd_seq_port_info_set_port(info, -1);
      while (snd_seq_query_next_port(seq_, info) >= 0) {
        if (port == snd_seq_port_info_get_name(info)) return *snd_seq_port_info_get_addr(info);
      }
    }
    return {static_cast<unsigned char>(255), 0};
  }
  int Subscribe(snd_seq_addr_t sender, snd_seq_addr_t dest) {
    snd_seq_port_subscribe_t* subs = nullptr;
    snd_seq_port_subscribe_alloca(&subs);
    snd_seq_port_subscribe_set_sender(subs, &sender);
    snd_seq_port_subscribe_set_dest(subs, &dest);
    return snd_seq_subscribe_port(seq_, subs);
  }
  snd_seq_addr_t Own() const {
    return {static_cast<unsigned char>(snd_seq_client_id(seq_)), static_cast<unsigned char>(port_)};
  }
  int SendSysEx(snd_seq_addr_t dest, std::vector<uint8_t> bytes) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_source(&event, port_);
    snd_seq_ev_set_dest(&event, dest.client, dest.port);
    snd_seq_ev_set_direct(&event);
    snd_seq_ev_set_sysex(&event, bytes.size(), bytes.data());
    return snd_seq_event_output_direct(seq_, &event);
  }

 private:
  snd_seq_t* seq_ = nullptr;
  int port_ = -1;
};

int longMessages = 0;
void CountLongData(HMIDIIN handle, uint32_t message, uintptr_t, uintptr_t param1, uintptr_t) {
  if (message != MIM_LONGDATA) return;
  auto* header = reinterpret_cast<MIDIHDR*>(param1);
  if (header->dwBytesRecorded > 0) ++longMessages;
  midiInAddBuffer(handle, header, sizeof *header);
}

TEST_F(AlsaVmTest, ThePortListedIsOpenedAfterAnotherDeviceWentAwayAndAGoneOneIsRefused) {
  const uint32_t second = OutputOf(1);
  const uint32_t secondIn = InputOf(1);
  Gadget("unplug", 0);  // the first device re-enumerates: the others move up
  HMIDIOUT out{};
  ASSERT_EQ(midiOutOpen(&out, second, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_TRUE(OutputOpenedByUs(1));
  EXPECT_FALSE(OutputOpenedByUs(2));
  midiOutClose(out);
  HMIDIIN in{};
  ASSERT_EQ(midiInOpen(&in, secondIn, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  midiInClose(in);

  Gadget("unplug", 1);  // now the listed device itself is gone
  EXPECT_EQ(midiOutOpen(&out, second, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(midiInOpen(&in, secondIn, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_FALSE(OutputOpenedByUs(2));
  Gadget("plug", 0);
  Gadget("plug", 1);
}

TEST_F(AlsaVmTest, NoOtherProgramGetsOrInjectsEventsThroughTheSequencerPorts) {
  OtherProgram monitor;
  monitor.Hold(std::atoi(Gadget("host-card", 1).c_str()));
  HMIDIOUT out{};
  ASSERT_EQ(midiOutOpen(&out, OutputOf(1), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  HMIDIIN in{};
  ASSERT_EQ(midiInOpen(&in, InputOf(1), reinterpret_cast<uintptr_t>(&CountLongData), 0,
                       CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  char buffer[256];
  MIDIHDR received{};
  received.lpData = buffer;
  received.dwBufferLength = sizeof buffer;
  ASSERT_EQ(midiInPrepareHeader(in, &received, sizeof received), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInAddBuffer(in, &received, sizeof received), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);

  const snd_seq_addr_t ourOut = monitor.UpdaterPort("out");
  const snd_seq_addr_t ourIn = monitor.UpdaterPort("in");
  ASSERT_NE(ourOut.client, 255) << "the output does not go through the sequencer";
  ASSERT_NE(ourIn.client, 255) << "the input does not come through the sequencer";
  EXPECT_LT(monitor.Subscribe(ourOut, monitor.Own()), 0) << "a monitor could listen to our port";
  EXPECT_LT(monitor.Subscribe(monitor.Own(), ourIn), 0) << "a program could feed our port";
  monitor.SendSysEx(ourIn, {0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7});  // a forged reply

  uint8_t message[600];
  for (size_t i = 0; i < sizeof message; ++i) message[i] = static_cast<uint8_t>(i & 0x7F);
  message[0] = 0xF0;
  message[sizeof message - 1] = 0xF7;
  MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(message);
  header.dwBufferLength = sizeof message;
  ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_NE(LoadFlags(&header) & MHDR_DONE, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(longMessages, 0) << "a message from another program reached the input";
  midiInReset(in);
  midiInUnprepareHeader(in, &received, sizeof received);
  midiInClose(in);
  midiOutClose(out);
}

// Run with /proc/asound hidden (fault_scenarios.sh mounts an empty folder over it).
TEST_F(AlsaVmTest, ASequencerPortWhoseBufferCannotBeSeenIsRefused) {
  if (std::ifstream("/proc/asound/cards")) GTEST_SKIP() << "needs /proc/asound hidden";
  OtherProgram server;
  server.Hold(std::atoi(Gadget("host-card", 1).c_str()));
  HMIDIOUT out{};
  EXPECT_NE(midiOutOpen(&out, OutputOf(1), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
}

// Bytes the host side has sent to gadget `g` (its "Tx bytes").
long SentBytes(int g) {
  const std::string text = HostMidiText(g);
  const size_t at = text.find("Tx bytes");
  return at == std::string::npos ? -1 : std::atol(text.c_str() + text.find(':', at) + 1);
}

TEST_F(AlsaVmTest, ClosingAfterAnUnplugMidMessageDoesNotWaitForTheKernelsDrain) {
  HMIDIOUT out{};
  ASSERT_EQ(midiOutOpen(&out, OutputOf(2), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  // Long enough to be still on its way when the device goes: the buffer is refilled whenever
  // it runs empty, so at the unplug it most likely holds bytes that will never leave.
  std::vector<uint8_t> message(4 << 20, 0x11);
  message.front() = 0xF0;
  message.back() = 0xF7;
  MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(message.data());
  header.dwBufferLength = static_cast<uint32_t>(message.size());
  ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
  MMRESULT sent = MMSYSERR_NOERROR;
  std::thread sender([&] { sent = midiOutLongMsg(out, &header, sizeof header); });
  const auto flowing = Clock::now() + std::chrono::seconds(20);
  while (SentBytes(2) < 100000 && Clock::now() < flowing) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(SentBytes(2), 100000);
  Gadget("unplug", 2);
  sender.join();
  EXPECT_NE(sent, MMSYSERR_NOERROR);
  const auto start = Clock::now();
  EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  // The kernel's drain would wait 10 s for the bytes that the device never takes.
  EXPECT_LT(took.count(), 5000) << "the close waited for the drain";
  std::printf("close after the unplug took %lld ms\n", static_cast<long long>(took.count()));
  Gadget("plug", 2);
}

}  // namespace
}  // namespace q9m::platform
