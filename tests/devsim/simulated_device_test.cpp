#include "devsim/simulated_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "devsim/flash_layout.h"
#include "protocol/crc32.h"
#include "protocol/pack7.h"
#include "tests/devsim/device_harness.h"

namespace q9m::devsim {
namespace {

using namespace testing;

// True when some violation contains all of `parts`.
bool HasViolation(const DeviceReport& report, std::initializer_list<const char*> parts) {
  for (const std::string& v : report.violations) {
    bool all = true;
    for (const char* part : parts) all &= v.find(part) != std::string::npos;
    if (all) return true;
  }
  return false;
}

std::string Violations(const DeviceReport& report) {
  std::string all;
  for (const std::string& v : report.violations) all += v + "\n";
  return all;
}

// The data bytes of a ReadDataReply.
Bytes ReadData(const Bytes& reply) {
  if (reply.size() < protocol::ReadDataReplyLength(0)) return {};
  const uint32_t count = protocol::DecodeCount(&reply[protocol::kReadDataCountOffset]);
  Bytes data(count);
  protocol::Unpack7(data.data(), &reply[protocol::kReadDataOffset], protocol::PackedLength(count));
  return data;
}

TEST(SimulatedDevice, AnswersIdentityWithItsCode) {
  for (const protocol::DeviceCodeBytes code :
       {protocol::DeviceCodeBytes{0x4A, 0, 0, 0}, protocol::DeviceCodeBytes{0x4B, 0, 0, 0}}) {
    DeviceHarness h({.code = code});
    const Bytes reply = h.Exchange(IdentityRequest());
    ASSERT_EQ(reply.size(), protocol::kIdentityReplyLength);
    EXPECT_EQ(Bytes(reply.begin() + 6, reply.begin() + 10), Bytes(code.begin(), code.end()));
    EXPECT_EQ(reply.front(), 0xF0);
    EXPECT_EQ(reply.back(), 0xF7);
    EXPECT_EQ(h.device.Report().received.identityRequests, 1u);
  }
}

TEST(SimulatedDevice, BeginUpdateInAndOutOfUpdateMode) {
  DeviceHarness willing;
  EXPECT_EQ(willing.Exchange(Begin()), DeviceStatus(0x00));
  EXPECT_TRUE(willing.device.Report().updateStarted);

  DeviceHarness busy({.updateMode = false});
  EXPECT_EQ(busy.Exchange(Begin()), DeviceStatus(kStatusNotInUpdateMode));
  // An update that did not start refuses the commands that change flash.
  EXPECT_EQ(busy.Exchange(Erase(0x119000, 0x1000)), DeviceStatus(0x01));
  const DeviceReport report = busy.device.Report();
  EXPECT_FALSE(report.updateStarted);
  EXPECT_TRUE(HasViolation(report, {"EraseRange", "before an accepted BeginUpdate"}));
  EXPECT_EQ(busy.device.Flash()[0x119000], busy.device.OldContent()[0x119000]);
}

TEST(SimulatedDevice, CommandsBeforeBeginAreRefusedAndReadsAnswered) {
  DeviceHarness h;
  const auto image = firmware::FindImage(133);
  EXPECT_EQ(h.Exchange(Block(0x23000, image->bytes, 4096)), DeviceStatus(0x01));
  EXPECT_EQ(h.Exchange(End()), DeviceStatus(0x01));
  EXPECT_EQ(ReadData(h.Exchange(Read(0x22FFC, 4))), (Bytes{'1', '.', '0', '0'}));
  const DeviceReport report = h.device.Report();
  EXPECT_TRUE(HasViolation(report, {"WriteBlock", "before an accepted BeginUpdate"}));
  EXPECT_TRUE(HasViolation(report, {"EndUpdate", "before an accepted BeginUpdate"}));
  EXPECT_EQ(report.blocksAcknowledged, 0u);
  EXPECT_FALSE(report.endReceived);
}

TEST(SimulatedDevice, EraseWriteReadRoundTrip) {
  DeviceHarness h;
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  ASSERT_EQ(h.Exchange(Erase(0x23000, 0x2000)), DeviceStatus(0));
  EXPECT_EQ(ReadData(h.Exchange(Read(0x23FFE, 4))), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  const auto image = firmware::FindImage(133);
  ASSERT_EQ(h.Exchange(Block(0x23000, image->bytes, 4096)), DeviceStatus(0));
  ASSERT_EQ(h.Exchange(Block(0x24000, image->bytes + 4096, 100)), DeviceStatus(0));
  // 16 bytes of the first block, the 100 of the second, then erased flash.
  Bytes expected(4096, 0xFF);
  std::copy(image->bytes + 0xFF0, image->bytes + 0x1000 + 100, expected.begin());
  EXPECT_EQ(ReadData(h.Exchange(Read(0x23FF0, 4096))), expected);
  // Outside the erased range the old content stays.
  EXPECT_EQ(h.device.Flash()[0x25000], h.device.OldContent()[0x25000]);
  EXPECT_EQ(h.device.Flash()[0x22FFF], h.device.OldContent()[0x22FFF]);
  const DeviceReport report = h.device.Report();
  EXPECT_EQ(report.blocksAcknowledged, 2u);
  // 0x23000+0x2000 is not an erase of the plan, and 100 bytes at 0x24000 not a plan block.
  EXPECT_TRUE(HasViolation(report, {"EraseRange at 0x023000 size 0x2000", "not an erase"}));
  EXPECT_TRUE(HasViolation(report, {"WriteBlock at 0x024000 (100 bytes)", "not a block"}));
  EXPECT_EQ(report.violations.size(), 2u) << Violations(report);
}

TEST(SimulatedDevice, VersionBytesTellWhetherTheBootImageIsCurrent) {
  const auto reference = firmware::FindImage(firmware::kVersionImageId);
  const Bytes current(reference->bytes + firmware::kVersionImageOffset,
                      reference->bytes + firmware::kVersionImageOffset + 4);
  DeviceHarness matching({.versionMatches = true});
  EXPECT_EQ(ReadData(matching.Exchange(Read(firmware::kVersionAddress, 4))), current);
  DeviceHarness old;
  EXPECT_NE(ReadData(old.Exchange(Read(firmware::kVersionAddress, 4))), current);
  EXPECT_EQ(old.Exchange(Read(kFlashSize - 2, 4)), DeviceStatus(0x01));  // past the end
  // Up to what one reply's two-septet count holds.
  EXPECT_EQ(ReadData(old.Exchange(Read(0, 16'383))),
            Bytes(old.device.OldContent().begin(), old.device.OldContent().begin() + 16'383));
  EXPECT_EQ(old.Exchange(Read(0, 16'384)), DeviceStatus(0x01));
}

class WriteRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
    ASSERT_EQ(h.Exchange(Erase(0x23000, 0x38000)), DeviceStatus(0));
    image = firmware::FindImage(133)->bytes;
    good = Block(0x23000, image, 4096);
  }
  // Sends `block`, expects a refusal with a violation naming `why`, and flash unchanged.
  void ExpectRefused(const Bytes& block, const char* why) {
    const std::vector<uint8_t> before = h.device.Flash();
    EXPECT_EQ(h.Exchange(block), DeviceStatus(0x01)) << why;
    const DeviceReport report = h.device.Report();
    EXPECT_TRUE(HasViolation(report, {why})) << Violations(report);
    EXPECT_EQ(report.blocksAcknowledged, 0u);
    EXPECT_TRUE(h.device.Flash() == before) << why;
  }

  DeviceHarness h;
  const uint8_t* image = nullptr;
  Bytes good;
};

TEST_F(WriteRefusal, BadCrc) {
  good[good.size() - 3] ^= 0x01;
  ExpectRefused(good, "CRC");
}

TEST_F(WriteRefusal, BadCount) {
  Bytes zero = good;
  zero[protocol::kWriteCountOffset] = 0;
  zero[protocol::kWriteCountOffset + 1] = 0;
  ExpectRefused(zero, "count outside 1 to 4096");
  Bytes tooMany = good;
  tooMany[protocol::kWriteCountOffset] = 0x01;  // 4097
  ExpectRefused(tooMany, "count outside 1 to 4096");
}

TEST_F(WriteRefusal, LengthMustMatchTheCount) {
  Bytes shorter = good;
  shorter.erase(shorter.end() - 2);  // one packed byte less
  ExpectRefused(shorter, "expected 4700");
  Bytes counted = good;
  counted[protocol::kWriteCountOffset] = 0x7F;  // 4095 bytes announced, 4096 sent
  counted[protocol::kWriteCountOffset + 1] = 0x1F;
  ExpectRefused(counted, "expected 4698");
  ExpectRefused(Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x02, 0xF7}, "too short");
}

TEST_F(WriteRefusal, OutsideTheFlash) {
  ExpectRefused(Block(kFlashSize - 16, image, 32), "outside the flash");
}

TEST_F(WriteRefusal, FlashNotErased) {
  ExpectRefused(Block(0x11A000, image, 4096), "flash not erased at 0x11A000");
}

TEST_F(WriteRefusal, DataByteWithTopBitSet) {
  good[40] = 0x85;
  ExpectRefused(good, "byte 85 at offset 40 is not a data byte");
}

TEST_F(WriteRefusal, OtherBytesOverAWrittenBlock) {
  ASSERT_EQ(h.Exchange(good), DeviceStatus(0));
  const std::vector<uint8_t> before = h.device.Flash();
  EXPECT_EQ(h.Exchange(Block(0x23000, image + 4096, 4096)), DeviceStatus(0x01));
  EXPECT_TRUE(HasViolation(h.device.Report(), {"flash not erased at 0x023000"}));
  EXPECT_TRUE(h.device.Flash() == before);
}

TEST_F(WriteRefusal, IdenticalRepeatIsAcknowledgedButFlaggedWhenTheAckWasNotLost) {
  ASSERT_EQ(h.Exchange(good), DeviceStatus(0));
  // The acknowledgement above reached the host at once; sending the block again is the
  // host's mistake, though harmless to the flash.
  platform::Sleep(400);
  EXPECT_EQ(h.Exchange(good), DeviceStatus(0));
  const DeviceReport report = h.device.Report();
  EXPECT_EQ(report.blocksAcknowledged, 1u);
  EXPECT_EQ(report.blocksRepeated, 1u);
  EXPECT_TRUE(HasViolation(report, {"WriteBlock at 0x023000", "resent although"}));
}

// On real ports an acknowledgement can be lost on the way. A repeat after the host's full
// time-out is then the host's duty; a quicker one is still its mistake.
TEST(SimulatedDeviceOnLossyLink, ARepeatAfterAFullTimeOutIsCountedAndAQuickerOneFlagged) {
  DeviceOptions options;
  options.linkMayLoseMessages = true;
  DeviceHarness h(options);
  // Slow enough that a loaded machine keeps the quick repeat below (400 ms) well inside the
  // window the device judges by: after its acknowledgement went out, before the host's time-out.
  const ClockScale fast(2);
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  ASSERT_EQ(h.Exchange(Erase(0x23000, 0x38000)), DeviceStatus(0));
  const uint8_t* image = firmware::FindImage(133)->bytes;
  const Bytes first = Block(0x23000, image, 4096);
  const Bytes second = Block(0x24000, image + 4096, 4096);

  ASSERT_EQ(h.Exchange(first), DeviceStatus(0));
  platform::Sleep(kHostBlockTimeoutMs + 500);  // the host's wait, then its pause
  EXPECT_EQ(h.Exchange(first), DeviceStatus(0));
  DeviceReport report = h.device.Report();
  EXPECT_EQ(report.repeatsAfterTimeOut, 1u);
  EXPECT_TRUE(report.violations.empty()) << Violations(report);

  ASSERT_EQ(h.Exchange(second), DeviceStatus(0));
  platform::Sleep(400);
  EXPECT_EQ(h.Exchange(second), DeviceStatus(0));
  report = h.device.Report();
  EXPECT_EQ(report.blocksRepeated, 2u);
  EXPECT_EQ(report.repeatsAfterTimeOut, 1u);
  EXPECT_TRUE(HasViolation(report, {"WriteBlock at 0x024000", "resent although"}));
}

TEST(SimulatedDevice, ForeignAndMalformedMessagesAreIgnoredAndRecorded) {
  DeviceHarness h;
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  h.Send(Erase(0x119000, 0x1000, 0x4B));              // another model's
  h.Send(Bytes{0xF0, 0x41, 0x00, 0x4A, 0x01, 0xF7});  // another manufacturer
  h.Send(Bytes{0x90, 0x3C, 0x7F});                    // not System Exclusive
  h.Send(Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x0A, 0x00});  // no F7
  h.Send(Bytes{0xF0, 0x7E, 0x00, 0x06, 0x07, 0xF7});  // universal, not the host's
  h.Send(Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x33, 0xF7});  // unknown command
  EXPECT_TRUE(h.Drain().empty());
  const DeviceReport report = h.device.Report();
  EXPECT_EQ(report.received.others, 6u);
  EXPECT_EQ(report.received.erases, 0u);
  EXPECT_TRUE(HasViolation(report, {"EraseRange with model byte 4B"}));
  EXPECT_TRUE(HasViolation(report, {"manufacturer 41"}));
  EXPECT_TRUE(HasViolation(report, {"not System Exclusive", "90 3C 7F"}));
  EXPECT_TRUE(HasViolation(report, {"without F7"}));
  EXPECT_TRUE(HasViolation(report, {"universal message"}));
  EXPECT_TRUE(HasViolation(report, {"vendor command", "33"}));
  EXPECT_EQ(h.device.Flash()[0x119000], h.device.OldContent()[0x119000]);
}

TEST(SimulatedDevice, ViolationsBeyondTheListAreCounted) {
  DeviceHarness h;
  for (int i = 0; i < 150; ++i) h.Send(Bytes{0xF0, 0x41, 0x00, 0x4A, 0x01, 0xF7});
  h.Drain();
  const DeviceReport report = h.device.Report();
  ASSERT_EQ(report.violations.size(), kMaxViolations + 1);
  EXPECT_EQ(report.violations.back(), "... and 50 more violations");
  EXPECT_EQ(report.received.others, 150u);
}

TEST(SimulatedDevice, EraseOutsideTheFlashIsRefused) {
  DeviceHarness h;
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  EXPECT_EQ(h.Exchange(Erase(0x7FF000, 0x2000)), DeviceStatus(0x01));
  EXPECT_EQ(h.Exchange(Erase(0x1000, 0)), DeviceStatus(0x01));
  EXPECT_TRUE(HasViolation(h.device.Report(), {"EraseRange at 0x7FF000 size 0x2000", "outside"}));
  EXPECT_EQ(h.device.Flash()[0x7FF000], h.device.OldContent()[0x7FF000]);
}

TEST(SimulatedDevice, WriteIntoARangeNeverErasedIsRecorded) {
  DeviceHarness h;
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  // Bytes equal to what the flash holds need no programming, so the device takes them; the
  // host still wrote where it never erased.
  const uint8_t* old = h.device.OldContent().data() + 0x11A000;
  EXPECT_EQ(h.Exchange(Block(0x11A000, old, 16)), DeviceStatus(0));
  EXPECT_TRUE(HasViolation(h.device.Report(), {"WriteBlock at 0x11A000", "never erased"}));
}

TEST(SimulatedDevice, FullPlanLeavesTheLayoutAndCompletes) {
  for (const bool versionMatches : {false, true}) {
    DeviceHarness h({.versionMatches = versionMatches});
    ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
    const uint32_t sent = h.RunPlan(versionMatches);
    EXPECT_EQ(sent, versionMatches ? 1767u : 1802u);
    EXPECT_EQ(h.Exchange(End()), DeviceStatus(0));
    const DeviceReport report = h.device.Report();
    EXPECT_TRUE(report.flashMatchesLayout) << report.mismatchRange;
    EXPECT_TRUE(report.updateCompleted);
    EXPECT_TRUE(report.Passed());
    EXPECT_TRUE(report.violations.empty()) << Violations(report);
    EXPECT_EQ(report.blocksAcknowledged, sent);
    EXPECT_EQ(report.planBlocks, sent);
    EXPECT_EQ(report.received.erases, versionMatches ? 5u : 6u);
  }
}

TEST(SimulatedDevice, OneWrongByteIsFoundAndNamed) {
  DeviceHarness h;
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  // Byte 100 of the block at 0x1DE000 (image 136, offset 0x1000) goes wrong on the host's
  // side: the CRC is rebuilt, so the device accepts it.
  const uint32_t address = 0x1DE000;
  h.RunPlan(false, [&](Bytes& block) {
    if (protocol::DecodeSeptets(&block[protocol::kWriteAddressOffset]) != address) return;
    const auto image = firmware::FindImage(136);
    Bytes data(image->bytes + 0x1000, image->bytes + 0x2000);
    data[100] ^= 0x20;
    block = Block(address, data.data(), data.size());
  });
  EXPECT_EQ(h.Exchange(End()), DeviceStatus(0));
  const DeviceReport report = h.device.Report();
  EXPECT_FALSE(report.flashMatchesLayout);
  EXPECT_FALSE(report.updateCompleted);
  ASSERT_TRUE(report.firstMismatch);
  EXPECT_EQ(*report.firstMismatch, address + 100);
  EXPECT_EQ(report.mismatchRange, "image 136");
  EXPECT_TRUE(
      HasViolation(report, {"WriteBlock at 0x1DE000", "differ from image 136 at offset 0x1064"}))
      << Violations(report);
}

TEST(SimulatedDevice, EndUpdateBeforeThePlanFinished) {
  DeviceHarness h;
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  ASSERT_EQ(h.Exchange(Erase(0x119000, 0x1000)), DeviceStatus(0));
  EXPECT_EQ(h.Exchange(End()), DeviceStatus(0));
  const DeviceReport report = h.device.Report();
  EXPECT_TRUE(report.endReceived);
  EXPECT_FALSE(report.updateCompleted);
  EXPECT_TRUE(HasViolation(report, {"EndUpdate before the plan finished: 0 of 1802"}));
  ASSERT_TRUE(report.firstMismatch);
  EXPECT_EQ(*report.firstMismatch, 0u);  // the boot image is missing
}

TEST(SimulatedDevice, BootRowsRunDespiteAMatchingVersion) {
  DeviceHarness h({.versionMatches = true});
  ASSERT_EQ(h.Exchange(Begin()), DeviceStatus(0));
  h.RunPlan(false);
  EXPECT_EQ(h.Exchange(End()), DeviceStatus(0));
  const DeviceReport report = h.device.Report();
  EXPECT_TRUE(HasViolation(report, {"EraseRange at 0x000000", "boot image is current"}));
  EXPECT_TRUE(HasViolation(report, {"WriteBlock at 0x000000", "not a block of the plan"}));
  EXPECT_FALSE(report.flashMatchesLayout);
  EXPECT_EQ(report.mismatchRange, "boot region (kept, version matched)");
}

}  // namespace
}  // namespace q9m::devsim
