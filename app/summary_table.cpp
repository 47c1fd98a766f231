#include "app/summary_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "app/cli_options.h"
#include "app/progress_format.h"
#include "protocol/string_table.h"

namespace q9m::app {

DeviceResult ResultOf(const ProgressSnapshot& last, bool stopped) {
  if (last.phase == UpdatePhase::Completed) return DeviceResult::Completed;
  if (last.errorId != 0) {
    if (last.phase != UpdatePhase::Identifying) return DeviceResult::Failed;
    // Only the identity request went out: a wrong code or no answer is a pair that is not a
    // Q9m; an identity request that could not be sent is a port that does not work.
    return last.errorId == protocol::IDS_CANT_OPEN_MIDI_OUT ? DeviceResult::Refused
                                                            : DeviceResult::Skipped;
  }
  return stopped ? DeviceResult::Stopped : DeviceResult::TimedOut;
}

const char* ResultName(DeviceResult result) {
  switch (result) {
    case DeviceResult::Completed:
      return "completed";
    case DeviceResult::Failed:
      return "failed";
    case DeviceResult::Skipped:
      return "skipped";
    case DeviceResult::Refused:
      return "not_started";
    case DeviceResult::Stopped:
      return "stopped";
    case DeviceResult::TimedOut:
      return "timed_out";
  }
  return "";
}

int AllDevicesExitStatus(const std::vector<DeviceRun>& runs, bool stoppedBySignal) {
  if (stoppedBySignal) return kExitStopped;
  const auto count = [&](DeviceResult r) {
    return std::count_if(runs.begin(), runs.end(),
                         [r](const DeviceRun& run) { return run.result == r; });
  };
  if (!runs.empty() && count(DeviceResult::Completed) == static_cast<long>(runs.size())) {
    return kExitCompleted;
  }
  // Nothing was erased anywhere: as when the one device of a plain run is not accepted.
  if (count(DeviceResult::Skipped) + count(DeviceResult::Refused) ==
      static_cast<long>(runs.size())) {
    return kExitNotStarted;
  }
  return kExitFailed;
}

std::string SummaryTable(const std::vector<DeviceRun>& runs) {
  using Row = std::array<std::string, 5>;
  std::vector<Row> rows = {{"DEVICE", "PORTS", "RESULT", "TIME", "FIRST ERROR"}};
  for (const DeviceRun& run : runs) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", run.seconds);
    rows.push_back({run.deviceCode.empty() ? "-" : run.deviceCode, run.ports,
                    ResultName(run.result), seconds,
                    run.firstError.empty() ? "-" : run.firstError});
  }
  std::array<size_t, 4> width{};
  for (const Row& row : rows) {
    for (size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  std::string table;
  for (const Row& row : rows) {
    for (size_t c = 0; c < width.size(); ++c) {
      table += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
    }
    table += row[4] + "\n";
  }
  return table;
}

std::string SummaryJson(const std::vector<DeviceRun>& runs, int exitStatus) {
  std::string json =
      "{\"event\":\"summary\",\"exit_status\":" + std::to_string(exitStatus) + ",\"devices\":[";
  for (size_t i = 0; i < runs.size(); ++i) {
    const DeviceRun& run = runs[i];
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", run.seconds);
    json += std::string(i ? "," : "") + "{\"device\":" + JsonString(run.ports) +
            ",\"device_code\":" + JsonString(run.deviceCode) + ",\"result\":\"" +
            ResultName(run.result) + "\",\"seconds\":" + seconds +
            ",\"first_error\":" + JsonString(run.firstError) + "}";
  }
  return json + "]}";
}

}  // namespace q9m::app
