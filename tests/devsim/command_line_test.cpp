#include "devsim/command_line.h"

#include <gtest/gtest.h>

#include "devsim/report_format.h"

namespace q9m::devsim {
namespace {

CommandLine Parsed(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  EXPECT_TRUE(parsed.line) << parsed.error;
  if (!parsed.line) return {};
  return *parsed.line;
}

std::string Error(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  EXPECT_FALSE(parsed.line);
  return parsed.error;
}

TEST(CommandLine, DefaultsPreselectTheUsualPortName) {
  const CommandLine line = Parsed({});
  EXPECT_EQ(line.inPort, "USB Audio Device");
  EXPECT_EQ(line.outPort, "USB Audio Device");
  EXPECT_EQ(line.device.code, (DeviceCodeBytes{0x4A, 0, 0, 0}));
  EXPECT_TRUE(line.device.updateMode);
  EXPECT_FALSE(line.exitAfterEnd);
  EXPECT_FALSE(line.jsonPath);
}

TEST(CommandLine, DeviceAndFaultOptions) {
  const CommandLine line = Parsed({"--code",
                                   "4B000000",
                                   "--not-in-update-mode",
                                   "--version-matches",
                                   "--refuse-block",
                                   "3:2:5",
                                   "--silent-block",
                                   "3",
                                   "--corrupt-block",
                                   "3:2",
                                   "--late-block",
                                   "@0x1DD000:2:2500",
                                   "--refuse-erases",
                                   "1",
                                   "--silent-erase",
                                   "4",
                                   "--reply-delay",
                                   "20",
                                   "--erase-ms-per-64k",
                                   "7",
                                   "--link-rate",
                                   "3125",
                                   "--unsolicited",
                                   "--own-requests",
                                   "--port",
                                   "P",
                                   "--out-port",
                                   "Q",
                                   "--exit-after-end",
                                   "--timeout",
                                   "2.5",
                                   "--json",
                                   "-",
                                   "--raw",
                                   "hw:q9mdev0,0",
                                   "--intake-rate",
                                   "8000:200000"});
  const DeviceOptions& d = line.device;
  EXPECT_EQ(d.code, (DeviceCodeBytes{0x4B, 0, 0, 0}));
  EXPECT_FALSE(d.updateMode);
  EXPECT_TRUE(d.versionMatches);
  ASSERT_EQ(d.blockFaults.size(), 2u);  // both options for block 3 make one fault
  EXPECT_EQ(d.blockFaults[0].blockIndex, 3u);
  EXPECT_EQ(d.blockFaults[0].refuse, 2);
  EXPECT_EQ(d.blockFaults[0].refuseStatus, 5);
  EXPECT_EQ(d.blockFaults[0].silent, 1);
  EXPECT_EQ(d.blockFaults[0].corrupt, 2);
  EXPECT_EQ(d.blockFaults[1].address, 0x1DD000u);
  EXPECT_FALSE(d.blockFaults[1].blockIndex);
  EXPECT_EQ(d.blockFaults[1].late, 2);
  EXPECT_EQ(d.blockFaults[1].lateMs, 2500u);
  EXPECT_EQ(d.refuseErases, 1);
  EXPECT_TRUE(d.eraseNeverAnswers);
  EXPECT_EQ(d.onlyErase, 4u);
  EXPECT_EQ(d.replyDelayMs, 20u);
  EXPECT_EQ(d.eraseMsPer64KiB, 7u);
  EXPECT_EQ(d.linkBytesPerSecond, 3125u);
  EXPECT_TRUE(d.unsolicitedBetweenReplies);
  EXPECT_TRUE(d.sendOwnRequests);
  EXPECT_EQ(line.inPort, "P");
  EXPECT_EQ(line.outPort, "Q");
  EXPECT_TRUE(line.exitAfterEnd);
  EXPECT_DOUBLE_EQ(line.timeoutSeconds, 2.5);
  EXPECT_EQ(line.jsonPath, "-");
  EXPECT_EQ(line.rawDevice, "hw:q9mdev0,0");
  EXPECT_EQ(line.intakeBytesPerSecond, 8000u);
  EXPECT_EQ(line.intakeSlowBytes, 200000u);
}

TEST(CommandLine, BadOptionsAreNamed) {
  EXPECT_NE(Error({"--frobnicate"}).find("unknown option '--frobnicate'"), std::string::npos);
  EXPECT_NE(Error({"--code", "4A00"}).find("--code"), std::string::npos);
  EXPECT_NE(Error({"--code", "4A00000G"}).find("--code"), std::string::npos);
  EXPECT_NE(Error({"--reply-delay"}).find("--reply-delay"), std::string::npos);
  EXPECT_NE(Error({"--reply-delay", "-5"}).find("whole number"), std::string::npos);
  EXPECT_NE(Error({"--refuse-block", "x"}).find("bad value"), std::string::npos);
  EXPECT_NE(Error({"--silent-block", "1:2:3"}).find("bad value"), std::string::npos);
  EXPECT_NE(Error({"--refuse-block", "1:1:128"}).find("status"), std::string::npos);
  EXPECT_NE(Error({"--timeout", "0"}).find("--timeout"), std::string::npos);
  EXPECT_NE(Error({"--port", ""}).find("--port"), std::string::npos);
  EXPECT_NE(Error({"--intake-rate", "8000"}).find("only with --raw"), std::string::npos);
  EXPECT_NE(Error({"--raw", "x", "--intake-rate", "0"}).find("--intake-rate"), std::string::npos);
  EXPECT_NE(Error({"--raw", "x", "--intake-rate", "1:2:3"}).find("--intake-rate"),
            std::string::npos);
}

TEST(ReportFormat, JsonEscapesAndCarriesTheVerdict) {
  EXPECT_EQ(JsonString("a\"b\\c\nd"), "\"a\\\"b\\\\c\\u000Ad\"");
  DeviceReport report;
  report.violations = {"EndUpdate before the plan finished: 0 of 1802 blocks written"};
  report.firstMismatch = 0x23000;
  report.mismatchRange = "image 133";
  const std::string json = ReportJson(report);
  EXPECT_NE(json.find("\"passed\": false"), std::string::npos);
  EXPECT_NE(json.find("\"firstMismatch\": 143360"), std::string::npos);
  EXPECT_NE(json.find("\"EndUpdate before the plan finished"), std::string::npos);
  const std::string text = ReportText(report);
  EXPECT_NE(text.find("differs from the layout first at 0x023000 in image 133"), std::string::npos);
  EXPECT_NE(text.find("violations: 1"), std::string::npos);
}

}  // namespace
}  // namespace q9m::devsim
