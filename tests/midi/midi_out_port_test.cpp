#include "midi/midi_out_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/midi_service.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::midi {
namespace {

using platform::MIDIHDR;
using platform::OutputOp;
using testing::Bytes;

MIDIHDR HeaderFor(Bytes& message) {
  MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(message.data());
  header.dwBufferLength = static_cast<uint32_t>(message.size());
  return header;
}

class MidiOutPortTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    first_ = AddRecordedOutput("USB Audio Device", &firstId_);
    second_ = AddRecordedOutput("VELA T Series", &secondId_);
  }
  std::shared_ptr<testing::SentMessages> first_, second_;
  uint32_t firstId_ = 0, secondId_ = 0;
};

TEST_F(MidiOutPortTest, ListsPortsByIndexWithBoundedNames) {
  service_->AddOutput(std::string(50, 'x'), nullptr);
  const std::string guitar = "\xF0\x9F\x8E\xB8";  // a 4-byte character
  std::string guitars;
  for (int i = 0; i < 40; ++i) guitars += guitar;
  service_->AddOutput(guitars, nullptr);
  ASSERT_EQ(MidiOutPort::GetDeviceCount(), 4u);
  char name[kPortNameBufferSize];
  std::memset(name, 'z', sizeof name);
  MidiOutPort::GetDeviceName(1, name);
  EXPECT_STREQ(name, "VELA T Series");
  MidiOutPort::GetDeviceName(2, name);
  EXPECT_EQ(std::string(name), std::string(31, 'x'));
  MidiOutPort::GetDeviceName(3, name);  // 31 characters of 4 bytes, cut between two of them
  EXPECT_EQ(std::string(name), guitars.substr(0, 31 * guitar.size()));
  MidiOutPort::GetDeviceName(7, name);  // no such port: an empty name, never stale text
  EXPECT_STREQ(name, "");
}

TEST_F(MidiOutPortTest, OpenTheSameIndexKeepsThePort) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  service_->RefuseOutput(firstId_, OutputOp::Open);  // a reopen would now fail
  EXPECT_EQ(port.Open(0), 1);
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(MidiOutPortTest, OpenAnotherIndexClosesFirstAndARefusalLeavesNothingOpen) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  ASSERT_EQ(port.Open(1), 1);
  Bytes message = {0xF0, 0x01, 0xF7};
  MIDIHDR header = HeaderFor(message);
  ASSERT_EQ(port.SendLong(&header), 1);
  EXPECT_EQ(first_->Count(), 0u);
  EXPECT_EQ(second_->Count(), 1u);

  service_->RefuseOutput(firstId_, OutputOp::Open);
  EXPECT_EQ(port.Open(0), 0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.DeviceIndex(), 0u);
  EXPECT_EQ(port.Open(0xFFFFFFFF), 0);  // no selection: no port behind it
}

TEST_F(MidiOutPortTest, CloseReportsWhetherAPortWasOpen) {
  MidiOutPort port;
  EXPECT_EQ(port.Close(), 0);
  ASSERT_EQ(port.Open(0), 1);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Close(), 0);
}

TEST_F(MidiOutPortTest, SendLongOnAClosedPortLeavesTheHeaderUntouched) {
  MidiOutPort port;
  Bytes message = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
  MIDIHDR header = HeaderFor(message);
  EXPECT_EQ(port.SendLong(&header), 0);
  EXPECT_EQ(header.dwFlags, 0u);
  EXPECT_EQ(first_->Count(), 0u);
}

TEST_F(MidiOutPortTest, SendLongDeliversByteForByteAndEndsUnprepared) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  Bytes message(4700, 0x55);
  message.front() = 0xF0;
  message.back() = 0xF7;
  MIDIHDR header = HeaderFor(message);
  ASSERT_EQ(port.SendLong(&header), 1);
  EXPECT_EQ(header.dwFlags & platform::MHDR_DONE, platform::MHDR_DONE);
  EXPECT_EQ(header.dwFlags & platform::MHDR_PREPARED, 0u);
  ASSERT_EQ(first_->Count(), 1u);
  EXPECT_EQ(first_->All()[0], message);
}

TEST_F(MidiOutPortTest, SendLongWaitsForTheDoneFlag) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  service_->DelayDone(firstId_, std::chrono::milliseconds(5));
  Bytes message = {0xF0, 0x01, 0xF7};
  MIDIHDR header = HeaderFor(message);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(port.SendLong(&header), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
}

TEST_F(MidiOutPortTest, RefusedPrepareOrSendFailsAndLeavesTheHeaderUnprepared) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  Bytes message = {0xF0, 0x01, 0xF7};
  MIDIHDR header = HeaderFor(message);
  service_->RefuseOutput(firstId_, OutputOp::Prepare, 1);
  EXPECT_EQ(port.SendLong(&header), 0);
  service_->RefuseOutput(firstId_, OutputOp::LongMsg, 1);
  EXPECT_EQ(port.SendLong(&header), 0);
  EXPECT_EQ(header.dwFlags & (platform::MHDR_PREPARED | platform::MHDR_INQUEUE), 0u);
  EXPECT_EQ(first_->Count(), 0u);
  EXPECT_EQ(port.SendLong(&header), 1);
}

TEST_F(MidiOutPortTest, AnUnpluggedDeviceMakesSendsFail) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  service_->UnplugOutput(firstId_);
  Bytes message = {0xF0, 0x01, 0xF7};
  MIDIHDR header = HeaderFor(message);
  EXPECT_EQ(port.SendLong(&header), 0);
  EXPECT_EQ(port.SendShort(0x90, 60, 100), 0);
  EXPECT_EQ(MidiOutPort::GetDeviceCount(), 1u);
}

TEST_F(MidiOutPortTest, CloseEndsASendStillWaitingForItsDoneFlag) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  service_->DelayDone(firstId_, std::chrono::hours(1));
  Bytes message = {0xF0, 0x01, 0xF7};
  MIDIHDR header = HeaderFor(message);
  int result = -1;
  std::thread sender([&] { result = port.SendLong(&header); });
  ASSERT_TRUE(first_->WaitForCount(1, 5000));
  port.Close();
  sender.join();  // would hang for an hour if Close left the message pending
  EXPECT_EQ(result, 1);
}

TEST_F(MidiOutPortTest, TwoThreadsSendingLongMessagesEachGetTheirsOutWhole) {
  MidiOutPort port;
  ASSERT_EQ(port.Open(0), 1);
  constexpr int kRounds = 200;
  auto run = [&](uint8_t fill) {
    Bytes message(4700, fill);
    message.front() = 0xF0;
    message.back() = 0xF7;
    for (int i = 0; i < kRounds; ++i) {
      MIDIHDR header = HeaderFor(message);
      EXPECT_EQ(port.SendLong(&header), 1);
    }
  };
  std::thread a(run, 0x11), b(run, 0x22);
  a.join();
  b.join();
  auto all = first_->All();
  ASSERT_EQ(all.size(), 2u * kRounds);
  for (const Bytes& m : all) {
    ASSERT_EQ(m.size(), 4700u);
    EXPECT_TRUE(std::all_of(m.begin() + 1, m.end() - 1, [&](uint8_t b) { return b == m[1]; }));
  }
}

TEST_F(MidiOutPortTest, SendShortPacksStatusAndDataBytes) {
  MidiOutPort port;
  EXPECT_EQ(port.SendShort(0xC0, 0x05, 0x00), 0);
  ASSERT_EQ(port.Open(0), 1);
  EXPECT_EQ(port.SendShort(0x1C0 /* only the low 8 bits count */, 0x05, 0x00), 1);
  EXPECT_EQ(port.SendShort(0x00403C90), 1);
  auto all = first_->All();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], (Bytes{0xC0, 0x05}));
  EXPECT_EQ(all[1], (Bytes{0x90, 0x3C, 0x40}));
}

}  // namespace
}  // namespace q9m::midi
