// q9m-update-cli's ports before a run: listed, and with --wait waited for until they are there,
// following the MIDI system's own notice of ports that come and go.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/console_report.h"

namespace q9m::app {

// The port to use: the one named, or the one copy 1 of the dialog preselects; -1 for none.
int ChoosePort(const std::vector<std::string>& names, const std::optional<std::string>& wanted);

// Whether the ports that the run needs are listed: the two it would choose, or with --all one
// MIDI OUT and one MIDI IN port of a name that a Q9m's ports are listed under (as copies 1 to 20
// of the dialog preselect them).
bool PortsPresent(const CliOptions& options, const std::vector<std::string>& outs,
                  const std::vector<std::string>& ins);

// Those ports in words, for the messages of a wait.
std::string WaitedPortsText(const CliOptions& options);

// With --all, once a pair is there, how long no port may come or go before the run starts:
// devices plugged in together (through a hub) appear one after another.
inline constexpr std::chrono::seconds kSettleTime{2};

// Waits up to the given time for a request to stop the program; says who asked, or nothing.
using StopCheck = std::function<std::string(std::chrono::milliseconds)>;

struct RunPorts {
  // kExitCompleted: go on with these lists. Otherwise the run ends with this status, and the
  // report has said why (the wait ran out, or was stopped); nothing was sent.
  int exitStatus = kExitCompleted;
  std::vector<std::string> outs;
  std::vector<std::string> ins;
};

// Lists the ports. With --wait, when the ports that the run needs are not there, says once what
// it waits for and waits until they are, until its limit, or until `stop` reports a request,
// which it asks at least every 100 ms.
RunPorts ListRunPorts(const CliOptions& options, ConsoleReport& report, const StopCheck& stop);

}  // namespace q9m::app
