#include "midi/midi_in_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "midi/dxm_timer.h"
#include "platform/midi_service.h"
#include "platform/timer_service.h"
#include "tests/support/virtual_midi_fixture.h"
#include "tests/support/wait_for.h"

namespace q9m::midi {
namespace {

using platform::InputOp;
using platform::MIDIHDR;
using testing::Bytes;

// F0, the payload, F7. The message is sized once and filled in place.
Bytes SysEx(std::initializer_list<uint8_t> payload) {
  Bytes message(payload.size() + 2);
  message.front() = 0xF0;
  std::copy(payload.begin(), payload.end(), message.begin() + 1);
  message.back() = 0xF7;
  return message;
}

// A message of `length` bytes in all, F0 and F7 included, with a payload that repeats rarely.
Bytes LongSysEx(size_t length) {
  Bytes message(length);
  message.front() = 0xF0;
  for (size_t i = 1; i + 1 < length; ++i)
    message[i] = static_cast<uint8_t>((i * 7 + i / 128) & 0x7F);
  message.back() = 0xF7;
  return message;
}

// Takes every queued message off the port.
std::vector<Bytes> Drain(MidiInPort& port) {
  std::vector<Bytes> messages;
  size_t length = 0;
  while (const uint8_t* data = port.PeekSysEx(&length)) {
    messages.emplace_back(data, data + length);
    port.DropSysEx();
  }
  return messages;
}

class MidiInPortTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    inId_ = service_->AddInput("Q9m MIDI In");
  }
  bool Inject(const Bytes& bytes) { return service_->Inject(inId_, bytes); }

  uint32_t inId_ = 0;
};

TEST_F(MidiInPortTest, ListsPortsByIndexWithBoundedNames) {
  service_->AddInput(std::string(45, 'n'));
  const std::string katakana = "\xE3\x82\xAA";  // オ
  std::string katakanas;
  for (int i = 0; i < 45; ++i) katakanas += katakana;
  service_->AddInput(katakanas);
  ASSERT_EQ(MidiInPort::GetDeviceCount(), 3u);
  char name[kPortNameBufferSize];
  std::memset(name, 'z', sizeof name);
  MidiInPort::GetDeviceName(0, name);
  EXPECT_STREQ(name, "Q9m MIDI In");
  MidiInPort::GetDeviceName(1, name);
  EXPECT_EQ(std::string(name), std::string(31, 'n'));
  MidiInPort::GetDeviceName(2, name);  // 31 characters, cut between two of them
  EXPECT_EQ(std::string(name), katakanas.substr(0, 31 * katakana.size()));
  MidiInPort::GetDeviceName(5, name);  // no such port: an empty name, never stale text
  EXPECT_STREQ(name, "");
}

TEST_F(MidiInPortTest, QueuesMessagesInArrivalOrderAndPeekRepeatsUntilDrop) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  const Bytes first = SysEx({0x00, 0x21, 0x7F, 0x01});
  const Bytes second = SysEx({0x02});
  ASSERT_TRUE(Inject(first));
  ASSERT_TRUE(Inject(second));

  size_t length = 0;
  const uint8_t* peeked = port.PeekSysEx(&length);
  ASSERT_NE(peeked, nullptr);
  EXPECT_EQ(Bytes(peeked, peeked + length), first);
  size_t again = 0;
  EXPECT_EQ(port.PeekSysEx(&again), peeked);
  EXPECT_EQ(again, length);

  EXPECT_EQ(port.DropSysEx(), 0);
  peeked = port.PeekSysEx(&length);
  ASSERT_NE(peeked, nullptr);
  EXPECT_EQ(Bytes(peeked, peeked + length), second);
  port.DropSysEx();
  EXPECT_EQ(port.PeekSysEx(&length), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_F(MidiInPortTest, ReceivesTheSameMessagesWhateverTheSplit) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  const std::vector<Bytes> sent = {SysEx({0x01, 0x02, 0x03}), LongSysEx(9000), SysEx({}),
                                   LongSysEx(300)};
  Bytes stream;
  for (const Bytes& message : sent) stream.insert(stream.end(), message.begin(), message.end());

  std::mt19937 random(7);
  for (size_t at = 0; at < stream.size();) {
    const size_t n = std::min<size_t>(stream.size() - at, 1 + random() % 700);
    ASSERT_TRUE(service_->Inject(inId_, stream.data() + at, n));
    at += n;
  }
  const std::vector<Bytes> received = Drain(port);
  // The 9000-byte message arrives as a full buffer and its rest.
  ASSERT_EQ(received.size(), 5u);
  EXPECT_EQ(received[0], sent[0]);
  Bytes joined = received[1];
  joined.insert(joined.end(), received[2].begin(), received[2].end());
  EXPECT_EQ(joined, sent[1]);
  EXPECT_EQ(received[3], sent[2]);
  EXPECT_EQ(received[4], sent[3]);
}

TEST_F(MidiInPortTest, AFullBufferIsQueuedUnchangedAndTheRestFollows) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  const Bytes message = LongSysEx(2 * kSysExBufferSize + 100);
  ASSERT_TRUE(Inject(message));
  const std::vector<Bytes> received = Drain(port);
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0], Bytes(message.begin(), message.begin() + kSysExBufferSize));
  EXPECT_EQ(received[1],
            Bytes(message.begin() + kSysExBufferSize, message.begin() + 2 * kSysExBufferSize));
  EXPECT_EQ(received[2], Bytes(message.begin() + 2 * kSysExBufferSize, message.end()));

  // A message of exactly one buffer ends in it.
  ASSERT_TRUE(Inject(LongSysEx(kSysExBufferSize)));
  EXPECT_EQ(Drain(port), std::vector<Bytes>{LongSysEx(kSysExBufferSize)});
}

TEST_F(MidiInPortTest, OnlyAFilledDoneHeaderIsQueuedAndHandedBack) {
  char bytes[8] = {'\xF0', 0x11, '\xF7'};
  MIDIHDR empty{}, notDone{}, filled{};  // outlive the port, which may hand them to the service
  for (MIDIHDR* header : {&empty, &notDone, &filled}) {
    header->lpData = bytes;
    header->dwBufferLength = sizeof bytes;
  }
  empty.dwFlags = platform::MHDR_DONE;
  notDone.dwBytesRecorded = 3;
  filled.dwBytesRecorded = 3;
  filled.dwFlags = platform::MHDR_DONE;

  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  const auto deliver = [&port](MIDIHDR& header) {
    MidiInPort::InputCallback({}, platform::MIM_LONGDATA, reinterpret_cast<uintptr_t>(&port),
                              reinterpret_cast<uintptr_t>(&header), 0);
  };
  deliver(empty);
  deliver(notDone);
  size_t length = 0;
  EXPECT_EQ(port.PeekSysEx(&length), nullptr);
  // Not handed back: the service would have prepared and queued them.
  EXPECT_EQ(empty.dwFlags, platform::MHDR_DONE);
  EXPECT_EQ(notDone.dwFlags, 0u);

  deliver(filled);
  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x11})});
  EXPECT_EQ(filled.dwFlags & (platform::MHDR_PREPARED | platform::MHDR_INQUEUE),
            platform::MHDR_PREPARED | platform::MHDR_INQUEUE);
  EXPECT_EQ(filled.dwFlags & platform::MHDR_DONE, 0u);
}

void CountTick(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  reinterpret_cast<std::atomic<int>*>(user)->fetch_add(1);
}

TEST_F(MidiInPortTest, AQueuedMessageWakesTheTimerThatServesThePorts) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  EXPECT_EQ(platform::OpenMidiPorts(), 1);
  std::atomic<int> ticks{0};
  CDxMTimer timer;  // a minute between ticks: only the wake can run one now
  ASSERT_NE(timer.Start(60'000, CountTick, reinterpret_cast<uintptr_t>(&ticks),
                        platform::TIME_MIDI_PORTS),
            0u);
  ASSERT_TRUE(Inject(SysEx({0x3D, 0x00})));
  EXPECT_TRUE(q9m::testing::WaitFor([&] { return ticks >= 1; }));
  timer.Stop();
  port.Close();
  EXPECT_EQ(platform::OpenMidiPorts(), 0);
}

TEST_F(MidiInPortTest, ShortMessagesReadInOrderAndASmallBufferConsumesTheEntry) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  uint8_t buffer[4] = {};
  EXPECT_EQ(port.ReadShortMsg(buffer, 3), 0);

  // A clock byte in the middle of a System Exclusive message, then two notes.
  ASSERT_TRUE(Inject({0xF0, 0x01, 0xF8, 0x02, 0xF7, 0x90, 0x40, 0x7F, 0x80, 0x40, 0x00}));
  ASSERT_EQ(port.ReadShortMsg(buffer, 3), 3);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xF8, 0x00, 0x00}));

  std::memset(buffer, 0xAA, sizeof buffer);
  ASSERT_EQ(port.ReadShortMsg(buffer, 2), 2);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x90, 0x40, 0xAA}));

  ASSERT_EQ(port.ReadShortMsg(buffer, 3), 3);  // the note-on was consumed
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x80, 0x40, 0x00}));
  EXPECT_EQ(port.ReadShortMsg(buffer, 3), 0);
  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x01, 0x02})});
}

TEST_F(MidiInPortTest, TheRingHoldsThirtyOneEntriesAndTheThirtySecondEmptiesIt) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  uint8_t buffer[3];
  // Twice round, so that both indices wrap from 31 to 0 on the way.
  for (int round = 0; round < 2; ++round) {
    for (uint8_t i = 0; i < 31; ++i) ASSERT_TRUE(Inject({0xB0, i, uint8_t(round)}));
    for (uint8_t i = 0; i < 31; ++i) {
      ASSERT_EQ(port.ReadShortMsg(buffer, 3), 3);
      EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xB0, i, uint8_t(round)}));
    }
    EXPECT_EQ(port.ReadShortMsg(buffer, 3), 0);
  }
  for (uint8_t i = 0; i < 32; ++i) ASSERT_TRUE(Inject({0xB0, i, 0x01}));
  EXPECT_EQ(port.ReadShortMsg(buffer, 3), 0);
  // The ring goes on from there.
  ASSERT_TRUE(Inject({0xC0, 0x05}));
  ASSERT_EQ(port.ReadShortMsg(buffer, 3), 3);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xC0, 0x05, 0x00}));
}

TEST_F(MidiInPortTest, StartOnAStartedPortKeepsItWhateverTheIndexSays) {
  const uint32_t otherId = service_->AddInput("Other");
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  port.deviceIndex = 1;
  service_->RefuseInput(inId_, InputOp::Open);  // a reopen would now fail
  service_->RefuseInput(otherId, InputOp::Open);
  EXPECT_EQ(port.Start(), 1);
  EXPECT_TRUE(port.IsStarted());
  ASSERT_TRUE(Inject(SysEx({0x05})));
  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x05})});
}

TEST_F(MidiInPortTest, StopAndCloseOnAPortNeverStarted) {
  MidiInPort port;
  // Every platform step is refused: a call would show as a failure or a changed state.
  for (InputOp op : {InputOp::Stop, InputOp::Reset, InputOp::Unprepare, InputOp::Close}) {
    service_->RefuseInput(inId_, op);
  }
  EXPECT_EQ(port.Stop(), 0);
  EXPECT_EQ(port.Close(), 0);
  EXPECT_FALSE(port.IsStarted());
  EXPECT_EQ(port.DropSysEx(), 0);  // empty queue: nothing happens
  size_t length = 1;
  EXPECT_EQ(port.PeekSysEx(&length), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_F(MidiInPortTest, StopClosesThePortAndKeepsWhatWasReceived) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  ASSERT_TRUE(Inject(SysEx({0x01})));
  ASSERT_TRUE(Inject({0x90, 0x3C, 0x40}));
  EXPECT_EQ(port.Stop(), 0);
  EXPECT_FALSE(port.IsStarted());
  EXPECT_FALSE(Inject(SysEx({0x02})));  // the service's port is closed
  EXPECT_EQ(port.Stop(), 0);            // again: nothing left to do

  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x01})});
  uint8_t buffer[3];
  ASSERT_EQ(port.ReadShortMsg(buffer, 3), 3);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x90, 0x3C, 0x40}));

  // Closing a stopped port still counts as closing an opened one.
  EXPECT_EQ(port.Close(), 1);
}

TEST_F(MidiInPortTest, CloseOnAStartedPortFreesTheDevice) {
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_FALSE(port.IsStarted());
  MidiInPort other;
  EXPECT_EQ(other.Start(), 1);  // the service would refuse a second open of a busy port
  // And the first one can start again once the other lets go.
  other.Close();
  EXPECT_EQ(port.Start(), 1);
  ASSERT_TRUE(Inject(SysEx({0x09})));
  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x09})});
}

TEST_F(MidiInPortTest, DestructionReleasesQueuedMessages) {
  // The leak checker of the address-sanitizer build sees any copy that is not released.
  auto port = std::make_unique<MidiInPort>();
  ASSERT_EQ(port->Start(), 1);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Inject(LongSysEx(100 + i)));
  size_t length = 0;
  ASSERT_NE(port->PeekSysEx(&length), nullptr);
  port.reset();
  MidiInPort next;
  EXPECT_EQ(next.Start(), 1);  // the destroyed port closed the device
}

const char* OpName(InputOp op) {
  switch (op) {
    case InputOp::Open:
      return "Open";
    case InputOp::Reset:
      return "Reset";
    case InputOp::Prepare:
      return "Prepare";
    case InputOp::AddBuffer:
      return "AddBuffer";
    case InputOp::Start:
      return "Start";
    case InputOp::Stop:
      return "Stop";
    case InputOp::Unprepare:
      return "Unprepare";
    case InputOp::Close:
      return "Close";
  }
  return "Unknown";
}

// Each step of Start refused in turn, once or until the fault is cleared.
struct StartFault {
  InputOp op;
  int times;
};

class MidiInPortStartFaultTest : public MidiInPortTest,
                                 public ::testing::WithParamInterface<StartFault> {};

TEST_P(MidiInPortStartFaultTest, AFailedStartLeavesThePortReopenable) {
  const StartFault fault = GetParam();
  MidiInPort port;
  service_->RefuseInput(inId_, fault.op, fault.times);
  EXPECT_EQ(port.Start(), 0);
  EXPECT_FALSE(port.IsStarted());
  Inject(SysEx({0x01}));  // the service's port is closed or not receiving
  EXPECT_EQ(port.PeekSysEx(nullptr), nullptr);

  if (fault.times < 0) {
    EXPECT_EQ(port.Start(), 0);  // still refused
    service_->RefuseInput(inId_, fault.op, 0);
  } else {
    // Refused once: the failed Start closed the device again.
    MidiInPort other;
    EXPECT_EQ(other.Start(), 1);
  }
  port.Close();
  ASSERT_EQ(port.Start(), 1);
  ASSERT_TRUE(Inject(SysEx({0x02})));
  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x02})});
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, MidiInPortStartFaultTest,
    ::testing::Values(StartFault{InputOp::Open, 1}, StartFault{InputOp::Open, -1},
                      StartFault{InputOp::Reset, 1}, StartFault{InputOp::Reset, -1},
                      StartFault{InputOp::Prepare, 1}, StartFault{InputOp::Prepare, -1},
                      StartFault{InputOp::AddBuffer, 1}, StartFault{InputOp::AddBuffer, -1},
                      StartFault{InputOp::Start, 1}, StartFault{InputOp::Start, -1}),
    [](const ::testing::TestParamInfo<StartFault>& info) {
      return std::string(OpName(info.param.op)) + (info.param.times < 0 ? "Always" : "Once");
    });

// Each step of Stop refused until the fault is cleared. The service may go on writing into
// the receive buffer, so the port must not release it (the address sanitizer sees a write
// into released memory).
class MidiInPortStopFaultTest : public MidiInPortTest,
                                public ::testing::WithParamInterface<InputOp> {};

TEST_P(MidiInPortStopFaultTest, ARefusedStepKeepsTheBufferForTheService) {
  const InputOp op = GetParam();
  MidiInPort port;
  ASSERT_EQ(port.Start(), 1);
  service_->RefuseInput(inId_, op);
  EXPECT_EQ(port.Stop(), 0);
  EXPECT_FALSE(port.IsStarted());

  // When the stop itself was refused, the service still receives into the buffer, and the
  // port still takes the messages.
  const bool stillReceiving = Inject(SysEx({0x0A})) && op == InputOp::Stop;
  EXPECT_EQ(Drain(port).size(), stillReceiving ? 1u : 0u);

  EXPECT_EQ(port.Start(), 0);  // the old port cannot be closed yet, so it cannot reopen
  service_->RefuseInput(inId_, op, 0);
  EXPECT_EQ(port.Close(), 1);
  ASSERT_EQ(port.Start(), 1);  // closes the old port properly, then opens it again
  ASSERT_TRUE(Inject(SysEx({0x0B})));
  EXPECT_EQ(Drain(port), std::vector<Bytes>{SysEx({0x0B})});
}

TEST_P(MidiInPortStopFaultTest, DestructionClosesAPortWhoseStopWasRefused) {
  const InputOp op = GetParam();
  {
    MidiInPort port;
    ASSERT_EQ(port.Start(), 1);
    service_->RefuseInput(inId_, op);
    port.Stop();
    service_->RefuseInput(inId_, op, 0);
  }
  MidiInPort next;
  EXPECT_EQ(next.Start(), 1);
}

INSTANTIATE_TEST_SUITE_P(EachStep, MidiInPortStopFaultTest,
                         ::testing::Values(InputOp::Stop, InputOp::Reset, InputOp::Unprepare,
                                           InputOp::Close),
                         [](const ::testing::TestParamInfo<InputOp>& info) {
                           return std::string(OpName(info.param));
                         });

}  // namespace
}  // namespace q9m::midi
