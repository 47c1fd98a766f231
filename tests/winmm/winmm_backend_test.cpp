// The winmm backend under the MIDI service, over a driver layer that behaves as the drivers
// that the updater meets on Windows and under wine.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "platform/midi_service.h"
#include "platform/open_refusal.h"
#include "platform/sync.h"
#include "platform/winmm/winmm_backend.h"
#include "platform/winmm/winmm_input.h"
#include "tests/support/wait_for.h"
#include "tests/winmm/fake_winmm_driver.h"

namespace q9m::platform {
namespace {

using testing::Bytes;
using testing::DriverWay;
using testing::FakePort;
using testing::FakeWinmmDriver;

Bytes SysEx(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((seed + i * 7) & 0x7F);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

class WinmmBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ports_ = std::make_shared<FakeWinmmDriver::Ports>();
    StartMidiService(MakeWinmmBackendOn(std::make_unique<FakeWinmmDriver>(ports_)));
  }
  void TearDown() override {
    StopMidiService();
    SetClockScale(1);
  }

  void AddOutput(std::string name, DriverWay way = DriverWay::Wine, bool held = false) {
    std::lock_guard lock(ports_->mutex);
    ports_->outputs.push_back({{std::move(name)}, held, way});
  }
  void AddInput(std::string name, bool held = false) {
    std::lock_guard lock(ports_->mutex);
    ports_->inputs.push_back({{std::move(name)}, held});
  }
  FakePort& Output(size_t i) { return ports_->outputs[i]; }
  FakePort& Input(size_t i) { return ports_->inputs[i]; }

  std::string OutName(uint32_t id) {
    MIDIOUTCAPSA caps;
    return midiOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR ? caps.szPname : "-";
  }

  // Sends `message` as the output port does, and returns the send's result.
  MMRESULT Send(HMIDIOUT handle, Bytes& message, MIDIHDR& header) {
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<char*>(message.data());
    header.dwBufferLength = static_cast<uint32_t>(message.size());
    EXPECT_EQ(midiOutPrepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR);
    return midiOutLongMsg(handle, &header, sizeof header);
  }

  std::shared_ptr<FakeWinmmDriver::Ports> ports_;
};

TEST_F(WinmmBackendTest, PortsAreListedAsCopiesPreselectThemAndFoundAgainByWhatTheyAre) {
  AddOutput("USB Audio Device");
  AddOutput("2- USB Audio Device");
  ASSERT_EQ(midiOutGetNumDevs(), 2u);
  EXPECT_EQ(OutName(0), "USB Audio Device");
  EXPECT_EQ(OutName(1), "USB Audio Device (2)");

  // A device plugged in takes index 0 on the system's side; the list keeps its order, and the
  // second listed port still opens the second device.
  {
    std::lock_guard lock(ports_->mutex);
    ports_->outputs.insert(ports_->outputs.begin(), FakePort{{"Synth"}});
  }
  ASSERT_EQ(midiOutGetNumDevs(), 3u);
  EXPECT_EQ(OutName(2), "Synth");
  HMIDIOUT handle{};
  ASSERT_EQ(midiOutOpen(&handle, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_NE(Output(2).openOutput, nullptr);
  EXPECT_EQ(Output(0).openOutput, nullptr);
  EXPECT_EQ(Output(1).openOutput, nullptr);
  EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
}

// winmm tells a program without a window nothing: the watch lists again and reports a port that
// came, but not ports that stayed as they were.
TEST_F(WinmmBackendTest, AWatchSeesAPortComeByListingAgain) {
  AddOutput("Synth");
  const auto watch = WatchMidiPorts();
  const auto after = [](auto looks) { return std::chrono::steady_clock::now() + looks; };
  EXPECT_FALSE(watch->Wait(after(kRelistInterval * 3 / 2)));
  AddInput("USB Audio Device");
  EXPECT_TRUE(watch->Wait(after(kRelistInterval * 3)));
}

TEST_F(WinmmBackendTest, APortHeldByAnotherProgramIsRefusedAsAllocated) {
  AddOutput("USB Audio Device", DriverWay::Wine, true);
  AddInput("USB Audio Device", true);
  HMIDIOUT out{};
  HMIDIIN in{};
  EXPECT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
  EXPECT_EQ(midiInOpen(&in, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
  EXPECT_EQ(out, HMIDIOUT{});
  // What the user is told.
  EXPECT_NE(LastOpenRefusal(PortDirection::Output).find("in use by another program"),
            std::string::npos);
  EXPECT_NE(LastOpenRefusal(PortDirection::Input).find("in use by another program"),
            std::string::npos);
  // Given free, the port opens, and no reason is left over.
  Output(0).heldElsewhere = false;
  ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_EQ(LastOpenRefusal(PortDirection::Output), "");
  EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(WinmmBackendTest, ALongSendIsDoneWhenTheDriverSaysSoWhateverItsWay) {
  const DriverWay ways[] = {DriverWay::Classic, DriverWay::MidiServices, DriverWay::Wine,
                            DriverWay::Later};
  for (DriverWay way : ways) AddOutput("Port", way);
  ASSERT_EQ(midiOutGetNumDevs(), 4u);
  for (uint32_t id = 0; id < 4; ++id) {
    SCOPED_TRACE(id);
    HMIDIOUT handle{};
    ASSERT_EQ(midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Bytes message = SysEx(4700, static_cast<uint8_t>(id));
    MIDIHDR header;
    ASSERT_EQ(Send(handle, message, header), MMSYSERR_NOERROR);
    // Done, and the driver holds no buffer of the backend's any more.
    EXPECT_NE(LoadFlags(&header) & MHDR_DONE, 0u);
    EXPECT_FALSE(Output(id).openOutput->Busy());
    EXPECT_EQ(midiOutUnprepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
    // The device saw the message whole, and nothing else (a reset's "all notes off" either).
    Bytes wire;
    for (const Bytes& piece : Output(id).wire->Pieces()) {
      wire.insert(wire.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(wire, message);
  }
  EXPECT_EQ(Output(1).wire->Pieces().size(), 3u);  // Windows MIDI Services: 2,048-byte pieces
}

TEST_F(WinmmBackendTest, ADriverThatNeverFinishesFailsTheSendAndGivesTheBufferBack) {
  SetClockScale(1000);  // the send's allowance of seconds passes in milliseconds
  AddOutput("USB Audio Device", DriverWay::Never);
  HMIDIOUT handle{};
  ASSERT_EQ(midiOutOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  Bytes message = SysEx(100, 1);
  MIDIHDR header;
  EXPECT_NE(Send(handle, message, header), MMSYSERR_NOERROR);
  EXPECT_EQ(LoadFlags(&header) & (MHDR_DONE | MHDR_INQUEUE), 0u);
  EXPECT_FALSE(Output(0).openOutput->Busy());
  EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
}

// An owner of an input port that collects every System Exclusive message whole.
class Collector {
 public:
  explicit Collector(uint32_t id) {
    EXPECT_EQ(midiInOpen(&handle_, id, reinterpret_cast<uintptr_t>(&Callback),
                         reinterpret_cast<uintptr_t>(this), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    for (auto& [header, bytes] : headers_) {
      header.lpData = bytes.data();
      header.dwBufferLength = static_cast<uint32_t>(bytes.size());
      midiInPrepareHeader(handle_, &header, sizeof header);
      midiInAddBuffer(handle_, &header, sizeof header);
    }
    midiInStart(handle_);
  }
  ~Collector() {
    midiInReset(handle_);
    for (auto& entry : headers_) midiInUnprepareHeader(handle_, &entry.first, sizeof(MIDIHDR));
    midiInClose(handle_);
  }
  std::vector<Bytes> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  size_t Count() { return Messages().size(); }

 private:
  static void Callback(HMIDIIN handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t) {
    auto* self = reinterpret_cast<Collector*>(instance);
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    if (message != MIM_LONGDATA || header->dwBytesRecorded == 0) return;
    {
      std::lock_guard lock(self->mutex_);
      const auto* data = reinterpret_cast<const uint8_t*>(header->lpData);
      self->messages_.emplace_back(data, data + header->dwBytesRecorded);
    }
    midiInAddBuffer(handle, header, sizeof *header);
  }

  HMIDIIN handle_{};
  std::array<std::pair<MIDIHDR, std::array<char, 32768>>, 4> headers_{};
  std::mutex mutex_;
  std::vector<Bytes> messages_;
};

TEST_F(WinmmBackendTest, ASysExLongerThanOneBufferArrivesWhole) {
  AddInput("USB Audio Device");
  ASSERT_EQ(midiInGetNumDevs(), 1u);
  Collector collector(0);
  const Bytes message = SysEx(20000, 3);  // more than two of the backend's buffers
  EXPECT_EQ(Input(0).openInput->Arrive(message), 0u);
  ASSERT_TRUE(q9m::testing::WaitFor([&] { return collector.Count() == 1; }));
  EXPECT_EQ(collector.Messages()[0], message);
}

TEST_F(WinmmBackendTest, NoMessageOfABurstIsDroppedWhileTheSystemIsSlowToNotify) {
  AddInput("USB Audio Device");
  ASSERT_EQ(midiInGetNumDevs(), 1u);
  Collector collector(0);
  testing::FakeInputPort& port = *Input(0).openInput;
  std::vector<Bytes> sent;
  for (int burst = 0; burst < 3; ++burst) {
    // Every buffer is queued, and every one that came back is queued again.
    ASSERT_TRUE(q9m::testing::WaitFor([&] { return port.Queued() == winmm::kInputBuffers; }));
    port.Hold();
    for (size_t i = 0; i < winmm::kInputBuffers; ++i) {
      sent.push_back(SysEx(22, static_cast<uint8_t>(sent.size())));
      EXPECT_EQ(port.Arrive(sent.back()), 0u);
    }
    EXPECT_EQ(port.Arrive(SysEx(22, 0)), 22u);  // one more than the buffers: the driver drops it
    port.Release();
    ASSERT_TRUE(q9m::testing::WaitFor([&] { return collector.Count() == sent.size(); }));
  }
  EXPECT_EQ(collector.Messages(), sent);
}

TEST_F(WinmmBackendTest, ClosingWhileTheDriverGivesBuffersBackEndsCleanly) {
  AddInput("USB Audio Device");
  ASSERT_EQ(midiInGetNumDevs(), 1u);
  auto collector = std::make_unique<Collector>(0);
  testing::FakeInputPort& port = *Input(0).openInput;
  port.Hold();
  for (int i = 0; i < 5; ++i) port.Arrive(SysEx(40, static_cast<uint8_t>(i)));
  // The close waits for the buffers whose notices the system still holds.
  std::thread closer([&] { collector.reset(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  port.Release();
  closer.join();
  EXPECT_EQ(*Input(0).misuses, 0);
}

}  // namespace
}  // namespace q9m::platform
