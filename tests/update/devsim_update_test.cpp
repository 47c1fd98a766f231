// Whole updates against the simulated device, which checks every message and verifies its
// flash against the images at the end.
#include <gtest/gtest.h>

#include <algorithm>

#include "devsim/virtual_device.h"
#include "firmware/flash_plan.h"
#include "platform/sync.h"
#include "protocol/string_table.h"
#include "protocol/update_worker.h"
#include "tests/support/recording_view.h"
#include "tests/support/virtual_midi_fixture.h"
#include "ui/update_session.h"

namespace q9m::protocol {
namespace {

class DevsimUpdateTest : public testing::VirtualMidiTest {
 protected:
  // Runs one update to its end against a device with `options`.
  testing::RecordingView::Snapshot Run(devsim::DeviceOptions options, bool verify = false) {
    device_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device", options);
    session_ = std::make_unique<ui::UpdateSession>(state_);
    session_->SetVerifyAfterWriting(verify);
    view_.onRestore = [this] { session_->ClearBusy(); };
    session_->StartTimer();
    EXPECT_EQ(session_->Execute(0, 0, view_), ui::UpdateSession::ExecuteResult::Started);
    EXPECT_TRUE(view_.WaitForRestore(300'000));
    session_->Close();
    return view_.Get();
  }
  void TearDown() override {
    session_.reset();
    device_.reset();
    platform::SetClockScale(1);
    VirtualMidiTest::TearDown();
  }

  // Opens the ports to a device with `options` and begins an update, for tests that run
  // single steps of the worker.
  UpdateContext& BeginDirect(devsim::DeviceOptions options) {
    device_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device", options);
    session_ = std::make_unique<ui::UpdateSession>(state_);
    session_->StartTimer();
    EXPECT_EQ(session_->OutPort().Open(0), 1);
    session_->InPort().deviceIndex = 0;
    EXPECT_EQ(session_->InPort().Start(), 1);
    UpdateContext& context = session_->Context();
    state_.deviceCode.Set({0x4A, 0, 0, 0});
    EXPECT_EQ(context.sender.SendBeginUpdate(), 0);
    EXPECT_TRUE(context.replyEvent.Wait(kBeginUpdateTimeoutMs));
    EXPECT_EQ(context.replyStatus.load(), kStatusSuccess);
    return context;
  }

  void ExpectVerified() {
    const auto report = device_->Report();
    EXPECT_TRUE(report.Passed());
    EXPECT_TRUE(report.flashMatchesLayout) << report.mismatchRange;
    for (const auto& violation : report.violations) ADD_FAILURE() << violation;
  }

  DeviceState state_;
  testing::RecordingView view_;
  std::unique_ptr<devsim::VirtualDevice> device_;
  std::unique_ptr<ui::UpdateSession> session_;
};

TEST_F(DevsimUpdateTest, CompleteUpdateLeavesTheFlashEqualToTheImages) {
  const auto s = Run({});
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_EQ(s.steps.back(), "12/12");
  EXPECT_FALSE(s.executeEnabled);
  ExpectVerified();
  EXPECT_EQ(device_->Report().received.writeBlocks, 1802u);
}

// Read back in pieces that fit the input port's buffer whole: one read per piece of each
// written range, besides the version read.
TEST_F(DevsimUpdateTest, VerifyReadsEveryWrittenRangeBackBeforeEndUpdate) {
  const auto s = Run({}, true);
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_NE(std::find(s.activities.begin(), s.activities.end(), "Verifying"), s.activities.end());
  ExpectVerified();
  uint32_t reads = 1;
  for (const auto& row : firmware::FlashPlan) {
    reads += (firmware::WriteLength(row) + kVerifyReadLength - 1) / kVerifyReadLength;
  }
  EXPECT_EQ(device_->Report().received.reads, reads);
  EXPECT_EQ(device_->Report().sectorsRepaired, 0u);
}

// Blocks acknowledged but stored wrong once: each sector is erased and written again and the
// update completes as planned, also where the sector is a plan row's own erase (0x119000).
TEST_F(DevsimUpdateTest, VerifyRepairsBlocksStoredWrongOnce) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.address = 0x28000, .corrupt = 1});
  options.blockFaults.push_back({.address = 0x119000, .corrupt = 1});
  const auto s = Run(options, true);
  EXPECT_EQ(s.activity, "Version update completed.");
  ExpectVerified();
  EXPECT_EQ(device_->Report().sectorsRepaired, 2u);
  EXPECT_EQ(device_->Report().blocksCorrupted, 2u);
}

// Stored wrong again after the repair: the error names the wrong byte's address, and no
// EndUpdate goes out.
TEST_F(DevsimUpdateTest, VerifyNamesTheAddressOfABlockStoredWrongTwice) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.address = 0x28000, .corrupt = 2});
  const auto s = Run(options, true);
  EXPECT_EQ(s.errors, std::vector<int>{IDS_TRANSFER_ERROR});
  EXPECT_EQ(s.errorAddresses, std::vector<uint32_t>{0x28800});
  EXPECT_NE(s.errorDetail.find("0x028800"), std::string::npos) << s.errorDetail;
  EXPECT_FALSE(device_->Report().endReceived);
  EXPECT_TRUE(device_->Report().violations.empty());
}

// An answer cut on the way is asked for again: a read changes nothing.
TEST_F(DevsimUpdateTest, VerifyAsksAgainForAnAnswerCutOnTheWay) {
  devsim::DeviceOptions options;
  options.cutReadAnswersAt = 0x28000;
  options.cutReadAnswers = 3;
  const auto s = Run(options, true);
  EXPECT_EQ(s.activity, "Version update completed.");
  ExpectVerified();
}

// Cut as often as a block may be sent: the run ends with an error there, and no EndUpdate.
TEST_F(DevsimUpdateTest, VerifyGivesUpOnAnAnswerCutEveryTime) {
  devsim::DeviceOptions options;
  options.cutReadAnswersAt = 0x28000;
  options.cutReadAnswers = kMaxBlockSends;
  const auto s = Run(options, true);
  EXPECT_EQ(s.errors, std::vector<int>{IDS_TRANSFER_ERROR});
  EXPECT_NE(s.errorDetail.find("32 times in a row"), std::string::npos) << s.errorDetail;
  EXPECT_FALSE(device_->Report().endReceived);
}

// Without verification the same fault goes unnoticed: the device's layout check finds it.
TEST_F(DevsimUpdateTest, WithoutVerifyABlockStoredWrongGoesUnnoticed) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.address = 0x28000, .corrupt = 1});
  const auto s = Run(options);
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_EQ(device_->Report().firstMismatch, std::optional<uint32_t>(0x28800));
}

TEST_F(DevsimUpdateTest, CurrentBootImageIsLeftAlone) {
  devsim::DeviceOptions options;
  options.versionMatches = true;
  const auto s = Run(options);
  EXPECT_EQ(s.activity, "Version update completed.");
  ExpectVerified();
  EXPECT_EQ(device_->Report().received.writeBlocks, 1767u);
}

TEST_F(DevsimUpdateTest, ChattyDeviceWithRequestsAndNoiseStillUpdates) {
  devsim::DeviceOptions options;
  options.code = {0x4B, 0, 0, 0};
  options.unsolicitedBetweenReplies = true;
  options.sendOwnRequests = true;
  const auto s = Run(options);
  EXPECT_EQ(s.activity, "Version update completed.");
  ExpectVerified();
}

TEST_F(DevsimUpdateTest, RefusedAndLostBlocksAreResentUntilTheyAreTaken) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.blockIndex = 100, .refuse = 31});
  // Written but the acknowledgements lost: the host's repeats find the same bytes in place.
  options.blockFaults.push_back({.blockIndex = 200, .silent = 2});
  options.refuseErases = 6;
  const auto s = Run(options);
  EXPECT_TRUE(s.errors.empty());
  ExpectVerified();
  EXPECT_EQ(device_->Report().blocksRefused, 31u);
  EXPECT_GE(device_->Report().blocksRepeated, 2u);
}

// At 3,125 bytes/s a full block spends about 1.5 s on the link, longer than the 1,000 ms reply
// time-out. The host's send is done only once the block has passed the link, as on a real
// interface, so the wait starts after the transmission: every block goes out once, is
// acknowledged, and the write goes on.
TEST_F(DevsimUpdateTest, BlocksLongerOnTheLinkThanTheReplyTimeOutAreEachSentOnce) {
  platform::SetClockScale(10);
  UpdateWorker worker(BeginDirect({.linkBytesPerSecond = 3125}), view_);
  ASSERT_EQ(worker.RunEraseStep(0x23000, 0x38000), 0);
  EXPECT_EQ(worker.RunWriteStep(0x23000, 3 * kWriteBlockSize, 133), 0);
  EXPECT_TRUE(view_.Get().errors.empty());
  ASSERT_TRUE(device_->Device().WaitIdle(10'000));
  const auto report = device_->Report();
  EXPECT_EQ(report.received.writeBlocks, 3u);
  EXPECT_EQ(report.blocksAcknowledged, 3u);
  EXPECT_EQ(report.blocksRepeated, 0u);
  for (const auto& violation : report.violations) ADD_FAILURE() << violation;
}

// A reply that comes after its block's time-out, then a refusal of a later block. With a
// device that takes time over each block, one reply left over would answer every following
// block's wait in turn, and the refusal would hit the wrong block: the refused one must be
// sent again.
TEST_F(DevsimUpdateTest, ALateReplyThenARefusalStillWritesEveryBlock) {
  devsim::DeviceOptions options{.writeMsPerBlock = 5};
  options.blockFaults.push_back({.blockIndex = 2, .late = 1, .lateMs = 1500});
  options.blockFaults.push_back({.blockIndex = 30, .refuse = 1});
  UpdateWorker worker(BeginDirect(options), view_);
  ASSERT_EQ(worker.RunEraseStep(0x23000, 0x38000), 0);
  EXPECT_EQ(worker.RunWriteStep(0x23000, 40 * kWriteBlockSize, 133), 0);
  EXPECT_TRUE(view_.Get().errors.empty());
  ASSERT_TRUE(device_->Device().WaitIdle(10'000));
  const auto report = device_->Report();
  EXPECT_EQ(report.blocksAcknowledged, 40u);
  EXPECT_EQ(report.blocksRefused, 1u);
  EXPECT_EQ(report.received.writeBlocks, 42u);
  for (const auto& violation : report.violations) ADD_FAILURE() << violation;
}

}  // namespace
}  // namespace q9m::protocol
