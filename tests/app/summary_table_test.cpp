// q9m-update-cli --all: how each device's end is counted, the exit status of the whole run,
// and the table that names every device.
#include "app/summary_table.h"

#include "app/port_pairs.h"

#include <gtest/gtest.h>

#include "app/cli_options.h"
#include "protocol/string_table.h"

namespace q9m::app {
namespace {

ProgressSnapshot EndedAt(UpdatePhase phase, int errorId) {
  ProgressSnapshot s;
  s.phase = phase;
  s.errorId = errorId;
  return s;
}

TEST(AllDevicesPairs, KthPortOfANamePairsWithTheKthAndTheLoopbackIsLeftOut) {
  const std::vector<std::string> outs = {"Midi Through Port-0", "USB Audio Device", "Synth",
                                         "USB Audio Device"};
  const std::vector<std::string> ins = {"USB Audio Device", "Midi Through Port-0",
                                        "USB Audio Device", "Keys"};
  const auto pairs = PairPortsByName(outs, ins);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].out, 1);
  EXPECT_EQ(pairs[0].in, 0);
  EXPECT_EQ(pairs[1].out, 3);
  EXPECT_EQ(pairs[1].in, 2);
}

TEST(AllDevicesSummary, SkippedOnlyBeforeAcceptanceAndExitStatusCountsEveryPair) {
  using protocol::IDS_ILLEGAL_DEVICE;
  // A wrong code or no answer to the identity request: not a Q9m, nothing erased.
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Identifying, IDS_ILLEGAL_DEVICE), false),
            DeviceResult::Skipped);
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Identifying, protocol::IDS_TIMEOUT_1), false),
            DeviceResult::Skipped);
  // Once accepted, any error is a failure that may leave the flash partly written.
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Writing, protocol::IDS_TIMEOUT_2), false),
            DeviceResult::Failed);
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Starting, protocol::IDS_SET_UPDATE_MODE), false),
            DeviceResult::Failed);
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Completed, 0), false), DeviceResult::Completed);
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Erasing, 0), true), DeviceResult::Stopped);
  EXPECT_EQ(ResultOf(EndedAt(UpdatePhase::Erasing, 0), false), DeviceResult::TimedOut);

  const auto run = [](DeviceResult r) { return DeviceRun{"USB Audio Device", "", r, 1, ""}; };
  const DeviceRun done = run(DeviceResult::Completed);
  const DeviceRun skipped = run(DeviceResult::Skipped);
  EXPECT_EQ(AllDevicesExitStatus({done, done}, false), kExitCompleted);
  EXPECT_EQ(AllDevicesExitStatus({done, done, skipped}, false), kExitFailed);
  EXPECT_EQ(AllDevicesExitStatus({done, run(DeviceResult::Failed)}, false), kExitFailed);
  EXPECT_EQ(AllDevicesExitStatus({skipped, run(DeviceResult::Refused)}, false), kExitNotStarted);
  EXPECT_EQ(AllDevicesExitStatus({}, false), kExitNotStarted);
  EXPECT_EQ(AllDevicesExitStatus({done, done}, true), kExitStopped);
}

TEST(AllDevicesSummary, TableAndJsonNameEveryDeviceAndItsFirstError) {
  const std::vector<DeviceRun> runs = {
      {"USB Audio Device", "4A000000", DeviceResult::Completed, 9.25, ""},
      {"USB Audio Device (2)", "4B000000", DeviceResult::Skipped, 0.04,
       "before step 1, identifying the device: Illegal device"},
  };
  EXPECT_EQ(SummaryTable(runs),
            "DEVICE    PORTS                 RESULT     TIME   FIRST ERROR\n"
            "4A000000  USB Audio Device      completed  9.2 s  -\n"
            "4B000000  USB Audio Device (2)  skipped    0.0 s  before step 1, identifying the "
            "device: Illegal device\n");
  EXPECT_EQ(SummaryJson({runs[1]}, 2),
            "{\"event\":\"summary\",\"exit_status\":2,\"devices\":[{\"device\":\"USB Audio Device "
            "(2)\",\"device_code\":\"4B000000\",\"result\":\"skipped\",\"seconds\":0.0,"
            "\"first_error\":\"before step 1, identifying the device: Illegal device\"}]}");
}

}  // namespace
}  // namespace q9m::app
