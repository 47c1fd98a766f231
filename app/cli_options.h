// The command line of q9m-update-cli: what to do, which ports, how to report.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace q9m::app {

// The exit statuses, as the manual page documents them.
enum ExitStatus : int {
  kExitCompleted = 0,   // the update completed
  kExitFailed = 1,      // the update failed after the device was identified
  kExitNotStarted = 2,  // bad arguments, no MIDI system or port, or no device accepted
  kExitStopped = 3,     // stopped by the user (SIGINT, SIGTERM or SIGHUP)
};

struct CliOptions {
  enum class Action { Update, List, Help, Version };
  Action action = Action::Update;
  std::optional<std::string> inPort;   // nothing: the port copy 1 of the dialog preselects
  std::optional<std::string> outPort;  // likewise
  bool all = false;                    // every port pair of one name, side by side
  bool json = false;                   // one JSON object per line on standard output
  bool throughBridge = false;          // go ahead over a bridge known to cut long messages
  bool verify = false;                 // read every written range back before EndUpdate
  long timeoutSeconds = 1800;          // give up on an update that runs longer
};

struct ParsedCliOptions {
  std::optional<CliOptions> options;  // nothing on error
  std::string error;
};

// `args` without the program name. Accepts "--in NAME" and "--in=NAME" alike.
ParsedCliOptions ParseCliOptions(const std::vector<std::string>& args);

std::string HelpText();

}  // namespace q9m::app
