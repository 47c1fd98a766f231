// The end of q9m-update-cli --all: how each device's run ended, the table that lists them, and
// the exit status of the whole command.
#pragma once

#include <string>
#include <vector>

#include "app/update_progress.h"

namespace q9m::app {

enum class DeviceResult {
  Completed,
  Failed,    // the update failed after the device was accepted: its flash may be partly written
  Skipped,   // the port pair did not answer with an accepted device code: nothing was erased
  Refused,   // not started: the ports could not be opened, or a bridge cuts long messages
  Stopped,   // by a signal
  TimedOut,  // --timeout ran out
};

struct DeviceRun {
  std::string ports;       // the name that the pair's MIDI OUT and MIDI IN ports share
  std::string deviceCode;  // what the device answered, "4A000000"; empty when it did not
  DeviceResult result = DeviceResult::Failed;
  double seconds = 0;
  std::string firstError;  // what failed and where, with its flash address; empty if nothing
};

// How a run that has ended at `last` is counted. A pair that answered the identity request
// with a code that is not accepted, or did not answer it, is not a Q9m: skipped.
DeviceResult ResultOf(const ProgressSnapshot& last, bool stopped);

const char* ResultName(DeviceResult result);

// 0 only when every pair tried completed; 2 when none was a Q9m (nothing was erased
// anywhere) or none could start; 3 when stopped by a signal; otherwise 1.
int AllDevicesExitStatus(const std::vector<DeviceRun>& runs, bool stoppedBySignal);

// One row per device: device code, ports, result, time, first error; columns aligned.
std::string SummaryTable(const std::vector<DeviceRun>& runs);
// {"event":"summary","exit_status":..,"devices":[{...},...]}
std::string SummaryJson(const std::vector<DeviceRun>& runs, int exitStatus);

}  // namespace q9m::app
