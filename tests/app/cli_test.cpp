// q9m-update-cli's own parts: its options, how it follows an update from the worker's view
// calls (against the simulated device), and how it words the result.
#include <gtest/gtest.h>

#include "app/cli_options.h"
#include "app/console_view.h"
#include "app/progress_format.h"
#include "devsim/virtual_device.h"
#include "firmware/firmware_images.h"
#include "protocol/string_table.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::app {
namespace {

CliOptions Parsed(const std::vector<std::string>& args) {
  const ParsedCliOptions parsed = ParseCliOptions(args);
  EXPECT_TRUE(parsed.options) << parsed.error;
  return parsed.options.value_or(CliOptions{});
}

TEST(CliOptions, PortsActionsAndFormats) {
  const CliOptions none = Parsed({});
  EXPECT_EQ(none.action, CliOptions::Action::Update);
  EXPECT_FALSE(none.inPort);
  EXPECT_FALSE(none.json);
  EXPECT_FALSE(none.throughBridge);
  EXPECT_TRUE(Parsed({"--through-bridge"}).throughBridge);
  EXPECT_FALSE(none.verify);
  EXPECT_TRUE(Parsed({"--verify"}).verify);
  EXPECT_FALSE(none.all);
  EXPECT_TRUE(Parsed({"--all", "--json"}).all);

  const CliOptions named =
      Parsed({"--in", "USB Audio Device (2)", "--out=A=B", "--json", "--timeout", "60"});
  EXPECT_EQ(named.inPort, "USB Audio Device (2)");
  EXPECT_EQ(named.outPort, "A=B");  // only the first '=' splits
  EXPECT_TRUE(named.json);
  EXPECT_EQ(named.timeoutSeconds, 60);
  EXPECT_EQ(Parsed({"--list", "--json"}).action, CliOptions::Action::List);
  EXPECT_EQ(Parsed({"-V"}).action, CliOptions::Action::Version);
  EXPECT_EQ(Parsed({"--help"}).action, CliOptions::Action::Help);

  EXPECT_FALSE(none.wait);
  const CliOptions forever = Parsed({"--wait", "--json"});  // an option is not its SECONDS
  EXPECT_TRUE(forever.wait);
  EXPECT_FALSE(forever.waitSeconds);
  EXPECT_TRUE(forever.json);
  EXPECT_EQ(Parsed({"--all", "--wait", "90"}).waitSeconds, 90);
  EXPECT_EQ(Parsed({"--wait=86400"}).waitSeconds, 86400);
  EXPECT_FALSE(Parsed({"--wait", "0"}).wait);  // looks once, as without --wait
}

TEST(CliOptions, RefusesWhatItCannotUse) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--in"},
                                             {"--json=1"},
                                             {"--verify=yes"},
                                             {"--timeout", "0"},
                                             {"--timeout", "5s"},
                                             {"--timeout="},
                                             {"--timeout", "99999999999999999999"},
                                             {"USB Audio Device"},
                                             {"--verbose"},
                                             {"--all", "--in", "USB Audio Device"},
                                             {"--wait", "soon"},
                                             {"--wait", "-5"},
                                             {"--wait", "86401"},
                                             {"--wait", "99999999999999999999"},
                                             {"--wait="},
                                             {"--wait", "--list"}}) {
    const ParsedCliOptions parsed = ParseCliOptions(args);
    EXPECT_FALSE(parsed.options) << args[0];
    EXPECT_FALSE(parsed.error.empty());
  }
}

// Whole updates against the simulated device, followed through ConsoleView as the program
// does: the phase, address and byte counts must match what the worker really did.
class ConsoleViewTest : public testing::VirtualMidiTest {
 protected:
  ProgressSnapshot Run(devsim::DeviceOptions options, bool verify = false) {
    device_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device", options);
    ui::UpdateSession session(state_);
    session.SetVerifyAfterWriting(verify);
    ConsoleView view(session, UpdateProgress::Clock::now());
    session.StartTimer();
    EXPECT_EQ(session.Execute(0, 0, view), ui::UpdateSession::ExecuteResult::Started);
    for (int i = 0; i < 3000 && !view.Finished(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(view.Finished());
    session.Close();
    return view.Snapshot(UpdateProgress::Clock::now());
  }
  void TearDown() override {
    device_.reset();
    VirtualMidiTest::TearDown();
  }

  protocol::DeviceState state_;
  std::unique_ptr<devsim::VirtualDevice> device_;
};

TEST_F(ConsoleViewTest, CountsEveryWrittenByteAndLeavesSkippedRowsOutOfTheTotal) {
  devsim::DeviceOptions options;
  options.versionMatches = true;  // rows 4 and 5 (image 142 at address 0) are skipped
  const ProgressSnapshot s = Run(options);
  EXPECT_EQ(s.phase, UpdatePhase::Completed);
  EXPECT_EQ(s.errorId, 0);
  uint64_t written = 0;
  for (const auto& info : firmware::kImageTable) written += info.length;
  written -= firmware::ImageLength(142).value();
  // Rows 7 and 11 write only the first 0x9000 and 0x623000 bytes of images 135 and 136.
  written -= firmware::ImageLength(135).value() - 0x9000;
  written -= firmware::ImageLength(136).value() - 0x623000;
  EXPECT_EQ(s.bytesTotal, written);
  EXPECT_EQ(s.bytesDone, written);
  EXPECT_DOUBLE_EQ(s.Percent(), 100.0);
}

TEST_F(ConsoleViewTest, FailureNamesTheStepAndTheBlockAddress) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.address = 0x1DF000, .refuse = 40});
  const ProgressSnapshot s = Run(options);
  EXPECT_EQ(s.phase, UpdatePhase::Writing);
  EXPECT_EQ(s.step, 11);
  EXPECT_EQ(s.CurrentAddress(), 0x1DF000u);
  EXPECT_EQ(s.bytesDone, s.bytesTotal - 0x623000 - 4096 + 0x2000);
  EXPECT_NE(WhereText(s).find("step 11/12, writing image 136: the block at 0x1DF000"),
            std::string::npos)
      << WhereText(s);
  EXPECT_NE(DeviceStateText(s).find("no complete firmware"), std::string::npos);
}

// A block stored wrong twice: the run ends while verifying, at the wrong byte's address, with
// every byte compared and the device told it holds no confirmed firmware.
TEST_F(ConsoleViewTest, VerifyFailureNamesTheAddressThatStayedWrong) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.address = 0x28000, .corrupt = 2});
  const ProgressSnapshot s = Run(options, true);
  EXPECT_EQ(s.phase, UpdatePhase::Verifying);
  EXPECT_EQ(s.errorId, protocol::IDS_TRANSFER_ERROR);
  EXPECT_EQ(s.errorAddress, std::optional<uint32_t>(0x28800));
  EXPECT_EQ(s.verifyDone, s.bytesTotal);
  EXPECT_EQ(s.verifyTotal, s.bytesTotal);
  EXPECT_DOUBLE_EQ(s.Percent(), 100.0);
  EXPECT_NE(WhereText(s).find("after step 12/12, verifying at 0x028800"), std::string::npos)
      << WhereText(s);
  EXPECT_NE(DeviceStateText(s).find("EndUpdate was not sent"), std::string::npos);
}

TEST_F(ConsoleViewTest, RejectedDeviceStopsWhileIdentifyingAndIsLeftUnchanged) {
  devsim::DeviceOptions options;
  options.code = {0x4C, 0, 0, 0};
  const ProgressSnapshot s = Run(options);
  EXPECT_EQ(s.phase, UpdatePhase::Identifying);
  EXPECT_EQ(s.errorId, protocol::IDS_ILLEGAL_DEVICE);
  EXPECT_NE(DeviceStateText(s).find("unchanged"), std::string::npos);

  options.code = {0x4A, 0, 0, 0};
  options.updateMode = false;  // BeginUpdate refused: past identification, flash untouched
  const ProgressSnapshot refused = Run(options);
  EXPECT_EQ(refused.phase, UpdatePhase::Starting);
  EXPECT_EQ(refused.errorId, protocol::IDS_SET_UPDATE_MODE);
}

TEST(UpdateProgress, RateAndTimeLeftFollowTheLastSecondsOnly) {
  const auto t0 = UpdateProgress::Clock::now();
  const auto at = [&](double s) {
    return t0 + std::chrono::duration_cast<UpdateProgress::Clock::duration>(
                    std::chrono::duration<double>(s));
  };
  UpdateProgress progress(t0);
  progress.Step("3/12");  // writes image 133
  progress.Range(229376);
  progress.Position(4096, at(10));
  EXPECT_FALSE(progress.Snapshot(at(10.5)).bytesPerSecond);  // too short a span to tell
  // 10,000 B/s for 10 s, then 40,000 B/s for 5 s: the rate is the recent one.
  for (int i = 1; i <= 10; ++i) progress.Position(4096 + 10000 * i, at(10 + i));
  for (int i = 1; i <= 5; ++i) progress.Position(104096 + 40000 * i, at(20 + i));
  const ProgressSnapshot s = progress.Snapshot(at(25));
  ASSERT_TRUE(s.bytesPerSecond);
  EXPECT_NEAR(*s.bytesPerSecond, 40000, 1);
  ASSERT_TRUE(s.secondsLeft);
  EXPECT_NEAR(*s.secondsLeft, static_cast<double>(s.bytesTotal - 304096) / 40000, 0.01);
  // Nothing acknowledged for a whole window (a long erase): no rate to promise a time by.
  EXPECT_EQ(progress.Snapshot(at(31)).bytesPerSecond, 0.0);
  EXPECT_FALSE(progress.Snapshot(at(31)).secondsLeft);
}

TEST(ProgressFormat, NumbersDurationsAndTerminalWidth) {
  EXPECT_EQ(FormatCount(7377024), "7,377,024");
  EXPECT_EQ(FormatCount(999), "999");
  EXPECT_EQ(FormatDuration(134.4), "2:14");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(std::nullopt), "-:--");
  EXPECT_EQ(FormatRate(31940), "31.9 kB/s");
  EXPECT_EQ(FormatRate(1.2e6), "1.20 MB/s");
  ProgressSnapshot s;
  s.phase = UpdatePhase::Writing;
  s.step = 9;
  s.imageId = 129;
  EXPECT_EQ(TerminalLine(s, 20).size(), 20u);
  EXPECT_EQ(TerminalLine(s, 200).find("step 9/12"), 0u);
}

TEST(ProgressFormat, JsonStringsAreValidWhateverThePortName) {
  EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(JsonString("tab\tend\x01"), R"("tab\u0009end\u0001")");
  EXPECT_EQ(JsonString("USB \xE3\x82\xAA"), "\"USB \xE3\x82\xAA\"");  // whole UTF-8 kept
  EXPECT_EQ(JsonString("cut \xE3\x82"), R"("cut \uFFFD\uFFFD")");     // a cut sequence is not
  EXPECT_EQ(JsonString("\xFF"), R"("\uFFFD")");
}

}  // namespace
}  // namespace q9m::app
