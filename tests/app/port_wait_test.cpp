// q9m-update-cli --wait on the in-process MIDI service: ports that come later are told of by
// the service's notice, and a wait that runs out or is stopped sends nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "app/console_view.h"
#include "app/port_wait.h"
#include "devsim/virtual_device.h"
#include "tests/support/virtual_midi_fixture.h"
#include "tests/support/wait_for.h"
#include "ui/update_session.h"

namespace q9m::app {
namespace {

// What a report wrote, read back from its file.
std::string ReadAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class PortWaitTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    out_ = std::tmpfile();
    ASSERT_NE(out_, nullptr);
  }
  void TearDown() override {
    if (plugger_.joinable()) plugger_.join();
    device_.reset();
    VirtualMidiTest::TearDown();
    if (out_ != nullptr) std::fclose(out_);
  }

  RunPorts Wait(
      const CliOptions& options, StopCheck stop = [](auto) { return std::string(); }) {
    ConsoleReport report(ReportStyle::Json, out_, out_);
    return ListRunPorts(options, report, stop);
  }

  static CliOptions Waiting(std::optional<long> seconds) {
    CliOptions options;
    options.wait = true;
    options.waitSeconds = seconds;
    return options;
  }

  std::FILE* out_ = nullptr;
  protocol::DeviceState state_;
  std::unique_ptr<devsim::VirtualDevice> device_;
  std::thread plugger_;
};

TEST_F(PortWaitTest, DevicePluggedInDuringTheWaitIsFoundAndUpdated) {
  AddRecordedOutput("Midi Through");
  service_->AddInput("Midi Through");
  plugger_ = std::thread([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    device_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device",
                                                      devsim::DeviceOptions{});
  });
  const RunPorts ports = Wait(Waiting(60));
  plugger_.join();
  ASSERT_EQ(ports.exitStatus, kExitCompleted);
  const int out = ChoosePort(ports.outs, std::nullopt);
  const int in = ChoosePort(ports.ins, std::nullopt);
  ASSERT_EQ(out, 1);
  ASSERT_EQ(in, 1);
  // Said once, however many notices came (the device's two ports came one after the other).
  EXPECT_EQ(Count(ReadAll(out_), "\"event\":\"waiting\""), 1u) << ReadAll(out_);

  ui::UpdateSession session(state_);
  ConsoleView view(session, UpdateProgress::Clock::now());
  session.StartTimer();
  ASSERT_EQ(session.Execute(out, in, view), ui::UpdateSession::ExecuteResult::Started);
  EXPECT_TRUE(testing::WaitFor([&] { return device_->Report().updateStarted; }));
  session.Close();
}

TEST_F(PortWaitTest, WaitThatRunsOutOrIsStoppedSendsNothing) {
  const auto sent = AddRecordedOutput("USB Audio Device");
  const auto other = AddRecordedOutput("Midi Through");
  service_->AddInput("Midi Through");

  const RunPorts timedOut = Wait(Waiting(1));
  EXPECT_EQ(timedOut.exitStatus, kExitNotStarted);
  const std::string text = ReadAll(out_);
  EXPECT_NE(text.find("waited 1 s for a MIDI OUT and a MIDI IN port named"), std::string::npos);
  EXPECT_NE(text.find("the MIDI OUT port is there, the MIDI IN port did not appear"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"exit_status\":2"), std::string::npos) << text;

  CliOptions all = Waiting(std::nullopt);
  all.all = true;
  int looks = 0;
  const RunPorts stopped =
      Wait(all, [&](auto) { return ++looks < 3 ? std::string() : std::string("SIGTERM"); });
  EXPECT_EQ(stopped.exitStatus, kExitStopped);
  EXPECT_NE(ReadAll(out_).find("stopped by SIGTERM while waiting"), std::string::npos);
  EXPECT_EQ(sent->Count() + other->Count(), 0u);
}

TEST(PortsPresent, AllWaitsForAPairNamedAsAQ9mIs) {
  CliOptions all;
  all.all = true;
  EXPECT_FALSE(PortsPresent(all, {"Midi Through"}, {"Midi Through"}));
  EXPECT_FALSE(PortsPresent(all, {"USB Audio Device (2)"}, {"USB Audio Device"}));
  EXPECT_TRUE(PortsPresent(all, {"Midi Through", "VELA T Series (20)"},
                           {"VELA T Series (20)", "Midi Through"}));
  EXPECT_FALSE(PortsPresent(all, {"VELA T Series (21)"}, {"VELA T Series (21)"}));

  CliOptions named;
  named.outPort = "Midi Through";
  EXPECT_FALSE(PortsPresent(named, {"Midi Through"}, {"Midi Through"}));  // IN: the default
  EXPECT_TRUE(PortsPresent(named, {"Midi Through"}, {"USB Audio Device"}));
}

}  // namespace
}  // namespace q9m::app
