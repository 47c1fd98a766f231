// The names under which the winmm backend lists the system's ports, and the ids by which it
// finds a listed port again.
//
// Windows numbers a second device of the same name itself ("2- USB Audio Device"); that is
// listed as "USB Audio Device (2)", the form that copy 2 of the updater preselects, as on the
// other MIDI systems. Devices that the system gives the very same name (some models do) are
// numbered in the system's order, so that every listed name is unique.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "platform/winmm/winmm_driver.h"

namespace q9m::platform::winmm {

// "N- NAME" (N from 2) becomes "NAME (N)", cut so that the number stays whole within a
// capability record; any other name stays as it is.
std::string ListedWinmmName(const std::string& systemName);

// A port as listed, and its device index in the system's numbering now.
struct WinmmPort {
  ListedPort listed;
  uint32_t deviceId = 0;
};

// The ports of one direction, `ports[i]` describing device index i (nothing for a port that
// could not be described, which is not listed), under their listed names. A port's id is its
// device interface path where the driver gives one, else its system name, with the count of
// ports before it that share it: it stays the same when other ports come and go, which the
// device index does not.
std::vector<WinmmPort> NameWinmmPorts(const std::vector<std::optional<PortCaps>>& ports);

}  // namespace q9m::platform::winmm
