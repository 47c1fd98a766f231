// Whole updates against the simulated device, which checks every message and verifies its
// flash against the images at the end.
#include <gtest/gtest.h>

#include "devsim/virtual_device.h"
#include "tests/support/recording_view.h"
#include "tests/support/virtual_midi_fixture.h"
#include "ui/update_session.h"

namespace q9m::protocol {
namespace {

class DevsimUpdateTest : public testing::VirtualMidiTest {
 protected:
  // Runs one update to its end against a device with `options`.
  testing::RecordingView::Snapshot Run(devsim::DeviceOptions options) {
    device_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device", options);
    session_ = std::make_unique<ui::UpdateSession>(state_);
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
    VirtualMidiTest::TearDown();
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

}  // namespace
}  // namespace q9m::protocol
