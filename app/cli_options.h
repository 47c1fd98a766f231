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
  bool wait = false;                   // wait for the ports to appear before starting
  std::optional<long> waitSeconds;     // with wait: for at most this long; nothing: no limit
};

// The longest --wait SECONDS taken: a day. Longer is left to a wait without limit.
inline constexpr long kMaxWaitSeconds = 86400;

struct ParsedCliOptions {
  std::optional<CliOptions> options;  // nothing on error
  std::string error;
};

// `args` without the program name. Accepts "--in NAME" and "--in=NAME" alike. The value of
// --wait may be left out: the next argument is taken for it unless it is an option.
ParsedCliOptions ParseCliOptions(const std::vector<std::string>& args);

std::string HelpText();

}  // namespace q9m::app
