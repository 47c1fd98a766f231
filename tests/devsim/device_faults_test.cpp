// Each fault option of DeviceOptions, observed from the host's side.
#include <gtest/gtest.h>

#include <string>

#include "devsim/simulated_device.h"
#include "tests/devsim/device_harness.h"

namespace q9m::devsim {
namespace {

using namespace testing;

std::string Violations(const DeviceReport& report) {
  std::string all;
  for (const std::string& v : report.violations) all += v + "\n";
  return all;
}

bool HasViolation(const DeviceReport& report, const std::string& part) {
  for (const std::string& v : report.violations) {
    if (v.find(part) != std::string::npos) return true;
  }
  return false;
}

// A device that has begun and erased the range of image 133.
class Faults : public ::testing::Test {
 protected:
  void Open(DeviceOptions options) {
    h = std::make_unique<DeviceHarness>(std::move(options));
    ASSERT_EQ(h->Exchange(Begin()), DeviceStatus(0));
    ASSERT_EQ(h->Exchange(Erase(0x23000, 0x38000)), DeviceStatus(0));
  }
  Bytes BlockAt(uint32_t index) { return ImageBlock(133, index * 4096, 0x23000 + index * 4096); }

  std::unique_ptr<DeviceHarness> h;
};

TEST_F(Faults, RefusedBlockByIndexAndByAddress) {
  Open({.blockFaults = {{.blockIndex = 1, .refuse = 2},
                        {.address = 0x25000, .refuse = 1, .refuseStatus = 0x05}}});
  EXPECT_EQ(h->Exchange(BlockAt(0)), DeviceStatus(0));
  EXPECT_EQ(h->Exchange(BlockAt(1)), DeviceStatus(0x01));
  EXPECT_EQ(h->device.Flash()[0x24000], 0xFF);  // a refused block is not written
  EXPECT_EQ(h->Exchange(BlockAt(1)), DeviceStatus(0x01));
  EXPECT_EQ(h->Exchange(BlockAt(1)), DeviceStatus(0x00));
  EXPECT_EQ(h->Exchange(BlockAt(2)), DeviceStatus(0x05));
  EXPECT_EQ(h->Exchange(BlockAt(2)), DeviceStatus(0x00));
  const DeviceReport report = h->device.Report();
  EXPECT_EQ(report.blocksRefused, 3u);
  EXPECT_EQ(report.blocksAcknowledged, 3u);
  EXPECT_TRUE(report.violations.empty()) << Violations(report);
}

TEST_F(Faults, SilentBlockIsWrittenAndItsRepeatAcknowledged) {
  Open({.blockFaults = {{.blockIndex = 0, .silent = 2}}});
  const Bytes block = BlockAt(0);
  h->Send(block);
  EXPECT_FALSE(h->Next(300));
  ASSERT_TRUE(h->device.WaitIdle(1000));
  EXPECT_EQ(h->device.Flash()[0x23000], firmware::FindImage(133)->bytes[0]);
  h->Send(block);  // the host's resend after its time-out
  EXPECT_FALSE(h->Next(300));
  EXPECT_EQ(h->Exchange(block), DeviceStatus(0));
  const DeviceReport report = h->device.Report();
  EXPECT_EQ(report.blocksAcknowledged, 1u);
  EXPECT_EQ(report.blocksRepeated, 2u);
  EXPECT_EQ(report.repliesLost, 2u);
  EXPECT_TRUE(report.violations.empty()) << Violations(report);
}

TEST_F(Faults, LateBlockReplyAndARepeatWhileItIsOnItsWay) {
  ClockScale fast(10);
  Open({.blockFaults = {{.blockIndex = 0, .late = 1, .lateMs = 1500}}});
  const Bytes block = BlockAt(0);
  h->Send(block);
  EXPECT_FALSE(h->Next(50));              // 500 ms of platform time: still on its way
  h->Send(block);                         // resent after the host's 1000 ms time-out
  EXPECT_EQ(h->Next(), DeviceStatus(0));  // the late reply
  EXPECT_EQ(h->Next(), DeviceStatus(0));  // the repeat's reply, in order behind it
  const DeviceReport report = h->device.Report();
  EXPECT_EQ(report.blocksRepeated, 1u);
  EXPECT_TRUE(report.violations.empty()) << Violations(report);
}

TEST_F(Faults, ReplyDelayHoldsEveryReply) {
  ClockScale fast(10);
  Open({.replyDelayMs = 2000});
  h->Send(BlockAt(0));
  EXPECT_FALSE(h->Next(50));
  EXPECT_EQ(h->Next(), DeviceStatus(0));
  h->Send(IdentityRequest());
  EXPECT_FALSE(h->Next(50));
  EXPECT_EQ(h->Next().value_or(Bytes{}).size(), protocol::kIdentityReplyLength);
}

TEST(DeviceFaults, RefusedErasesLeaveTheFlashAlone) {
  DeviceHarness h({.refuseErases = 2});
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  EXPECT_EQ(h.Exchange(Erase(0x119000, 0x1000)), DeviceStatus(0x01));
  EXPECT_NE(h.device.Flash()[0x119000], 0xFF);
  EXPECT_EQ(h.Exchange(Erase(0x119000, 0x1000)), DeviceStatus(0x01));
  EXPECT_EQ(h.Exchange(Erase(0x119000, 0x1000)), DeviceStatus(0x00));
  EXPECT_EQ(h.device.Flash()[0x119000], 0xFF);
  const DeviceReport report = h.device.Report();
  EXPECT_EQ(report.received.erases, 3u);
  EXPECT_TRUE(report.violations.empty()) << Violations(report);  // resends after errors are fine
}

TEST(DeviceFaults, UnansweredEraseAndTheResendItMustNotProvoke) {
  DeviceHarness h({.eraseNeverAnswers = true});
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  h.Send(Erase(0x119000, 0x1000));
  EXPECT_FALSE(h.Next(300));
  ASSERT_TRUE(h.device.WaitIdle(1000));
  EXPECT_EQ(h.device.Flash()[0x119000], 0xFF);  // carried out all the same
  h.Send(Erase(0x119000, 0x1000));
  EXPECT_FALSE(h.Next(300));
  EXPECT_TRUE(HasViolation(h.device.Report(), "resent after a time-out"));
}

TEST(DeviceFaults, OnlyTheChosenEraseGoesUnanswered) {
  DeviceHarness h({.eraseNeverAnswers = true, .onlyErase = 1});
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  EXPECT_EQ(h.Exchange(Erase(0x119000, 0x1000)), DeviceStatus(0));
  h.Send(Erase(0x23000, 0x38000));
  EXPECT_FALSE(h.Next(300));
  EXPECT_EQ(h.Exchange(Erase(0x0, 0x23000)), DeviceStatus(0));
  EXPECT_TRUE(h.device.Report().violations.empty());
}

TEST(DeviceFaults, SlowEraseKeepsTheDeviceBusy) {
  ClockScale fast(10);
  // 0x38000 bytes are 3.5 times 64 KiB: 3.5 s of platform time.
  DeviceHarness h({.eraseMsPer64KiB = 1000});
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  h.Send(Erase(0x23000, 0x38000));
  h.Send(IdentityRequest());
  EXPECT_FALSE(h.Next(150));  // 1.5 s: still erasing, and the request waits behind it
  EXPECT_EQ(h.Next(), DeviceStatus(0));
  EXPECT_EQ(h.Next().value_or(Bytes{}).size(), protocol::kIdentityReplyLength);
}

TEST(DeviceFaults, SlowLinkDelaysBothDirectionsByMessageSize) {
  ClockScale fast(10);
  // 4700 bytes in and 7 bytes out at 3125 bytes/s take 1.5 s of platform time.
  DeviceHarness h({.linkBytesPerSecond = 3125});
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  ASSERT_EQ(h.Exchange(Erase(0x23000, 0x38000)), DeviceStatus(0));
  h.Send(ImageBlock(133, 0, 0x23000));
  h.Send(Read(0x23000, 4));  // queued behind the block on the wire
  EXPECT_FALSE(h.Next(80));
  EXPECT_EQ(h.Next(), DeviceStatus(0));
  EXPECT_EQ(h.Next().value_or(Bytes{}).size(), protocol::ReadDataReplyLength(4));
}

TEST(DeviceFaults, UnsolicitedMessagesPrecedeEachReply) {
  DeviceHarness h({.unsolicitedBetweenReplies = true});
  h.Send(IdentityRequest());
  h.Send(Begin());
  h.Send(Read(0, 4));
  const std::vector<Bytes> sent = h.Drain();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[1].size(), protocol::kIdentityReplyLength);
  EXPECT_EQ(sent[3], DeviceStatus(0));
  EXPECT_EQ(sent[5].size(), protocol::ReadDataReplyLength(4));
  // Another model's refusal, another manufacturer's, one cut off before its F7.
  EXPECT_EQ(sent[0], (Bytes{0xF0, 0x3D, 0x00, 0x4B, 0x00, 0x01, 0xF7}));
  EXPECT_EQ(sent[2][1], 0x41);
  EXPECT_NE(sent[4].back(), 0xF7);
  EXPECT_EQ(h.device.Report().unsolicitedSent, 3u);
}

// The device's own requests and the host's automatic answers.
class OwnRequests : public ::testing::Test {
 protected:
  OwnRequests() : h({.sendOwnRequests = true, .ownRequestEveryBlocks = 1}) {}

  // Begins, answers the identity request that comes with it, erases for image 133.
  void Start(const protocol::DeviceCodeBytes& answer) {
    h.Send(Begin());
    EXPECT_EQ(h.Next(), (Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
    EXPECT_EQ(h.Next(), DeviceStatus(0));
    h.Send(HostIdentity(answer));
    ASSERT_EQ(h.Exchange(Erase(0x23000, 0x38000)), DeviceStatus(0));
  }
  // Writes block `index`; returns the own request that came before the acknowledgement (or
  // the vendor 02 that stood in for it).
  Bytes WriteBlock(uint32_t index) {
    h.Send(ImageBlock(133, index * 4096, 0x23000 + index * 4096));
    return h.Next().value_or(Bytes{});
  }
  Bytes Vendor(uint8_t command) { return Bytes{0xF0, 0x3D, 0x00, 0x4A, command, 0xF7}; }

  DeviceHarness h;
};

TEST_F(OwnRequests, CorrectAnswersLeaveNoViolation) {
  Start({0x4A, 0, 0, 0});
  const struct {
    uint8_t command;
    std::optional<uint8_t> answer;
  } expected[] = {{0x01, 0x00}, {0x04, 0x00}, {0x05, 0x00},
                  {0x0A, 0x01}, {0x7F, 0x01}, {0x03, std::nullopt}};
  uint32_t index = 0;
  for (const auto& e : expected) {
    EXPECT_EQ(WriteBlock(index++), Vendor(e.command));
    EXPECT_EQ(h.Next(), DeviceStatus(0));  // the block's acknowledgement
    if (e.answer) h.Send(HostStatus(*e.answer));
  }
  // Vendor 02 stands in for the acknowledgement; the host treats it as one and says nothing.
  EXPECT_EQ(WriteBlock(index++), Vendor(0x02));
  EXPECT_EQ(WriteBlock(index++), (Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
  EXPECT_EQ(h.Next(), DeviceStatus(0));
  h.Send(HostIdentity({0x4A, 0, 0, 0}));
  h.Drain();
  const DeviceReport report = h.device.Report();
  EXPECT_EQ(report.ownRequestsSent, 9u);
  EXPECT_EQ(report.received.statusReplies, 5u);
  EXPECT_EQ(report.received.hostIdentityReplies, 2u);
  EXPECT_TRUE(report.violations.empty()) << Violations(report);
}

TEST_F(OwnRequests, WrongAnswersAreViolations) {
  Start({0x4B, 0, 0, 0});  // not the device's code
  EXPECT_EQ(WriteBlock(0), Vendor(0x01));
  h.Next();
  h.Send(HostStatus(0x01));  // 01 wants 00
  for (uint32_t i = 1; i <= 5; ++i) {
    WriteBlock(i);  // 04, 05, 0A, 7F, 03
    h.Next();
    if (i <= 4) h.Send(HostStatus(i <= 2 ? 0x00 : 0x01));
  }
  h.Send(HostStatus(0x00));  // an answer to 03, which wants none
  h.Drain();
  const DeviceReport report = h.device.Report();
  EXPECT_TRUE(HasViolation(report, "carries 4B 00 00 00, expected 4A 00 00 00"))
      << Violations(report);
  EXPECT_TRUE(HasViolation(report, "vendor request 01 was answered with status 01, expected 00"));
  EXPECT_TRUE(HasViolation(report, "StatusReply 00 from the host that answers no request"));
  EXPECT_EQ(report.violations.size(), 3u) << Violations(report);
}

TEST_F(OwnRequests, MissingAnswerIsAViolation) {
  ClockScale fast(20);
  Start({0x4A, 0, 0, 0});
  WriteBlock(0);  // vendor 01, never answered
  h.Next();
  platform::Sleep(kOwnRequestAnswerMs + 500);
  EXPECT_TRUE(HasViolation(h.device.Report(), "did not answer the device's vendor request 01"));
}

}  // namespace
}  // namespace q9m::devsim
