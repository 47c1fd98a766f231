// What q9m-update-cli needs of its process and console on each system: the requests to stop an
// update from outside (Ctrl-C and the like), its arguments as UTF-8, and its process id.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace q9m::app {

// Called first, before any other thread starts: from here on a stop request no longer ends
// the process but waits for WaitForStopRequest. On Windows also makes the console show UTF-8
// and the terminal line's control sequences.
void TakeOverStopRequests();

// Waits up to `timeout` for a stop request. Says who asked ("the user (Ctrl-C)", "SIGTERM"),
// or nothing when none came.
std::string WaitForStopRequest(std::chrono::milliseconds timeout);

// The program's arguments (without its name), as UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

long CurrentProcessId();

}  // namespace q9m::app
