// q9m-update-cli --all: every port pair whose MIDI OUT and MIDI IN ports share a name is
// tried as one device, and up to 20 are updated side by side in this process, one session
// each, each with its own device state.
#pragma once

#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/port_pairs.h"

namespace q9m::app {

inline constexpr size_t kMostDevices = 20;

// Runs every update to its end and prints the summary; returns the exit status.
int UpdateAllDevices(const CliOptions& options, const std::vector<std::string>& outs,
                     const std::vector<std::string>& ins);

}  // namespace q9m::app
