// The names under which ports are listed, the same on every MIDI system: a device with one
// port in a direction is listed by its own name ("USB Audio Device"); one with several ports
// as "<device> <port>"; and identical names get " (2)", " (3)" ... in the system's order, so
// that copy n of the updater finds the n-th of several identical devices.
#pragma once

#include <string>
#include <vector>

#include "platform/port_list.h"

namespace q9m::platform {

// One port of a device as the MIDI system describes it.
struct DevicePort {
  std::string id;          // names the port uniquely for the MIDI system
  std::string deviceId;    // names the device uniquely: identical devices share their names
  std::string device;      // the device's own name (a sequencer client, a bridged card)
  std::string port;        // the port's own name
  std::string warning{};   // see ListedPort
  std::string identity{};  // see ListedPort
};

// The ports of one direction, listed under their names. `ports` must be in the order that every
// process sees alike and that follows plug order (the sequencer's client numbers), so that the
// numbering of identical devices is the same in every copy of the updater. Each name fits a
// capability record with its number: a long name is cut before its " (n)", never the number.
std::vector<ListedPort> NameDevicePorts(const std::vector<DevicePort>& ports);

// Numbers identical names in order: the second "X" becomes "X (2)", and so on. Names are cut to
// the record's length first, with room kept for the number.
std::vector<std::string> NumberIdenticalNames(const std::vector<std::string>& names);

// True when `client` is a client of any copy of this program, whose client in this copy is
// `ours`: the two names are equal once every trailing "-<digits>" is taken off each (a copy's
// number, a process id, the "-NN" that a JACK server adds to a name already taken). So no copy
// lists another copy's ports as if they were devices.
bool IsProgramClient(const std::string& client, const std::string& ours);

// True when text[begin, end) is not empty and holds only the digits 0 to 9.
bool AllDigits(const std::string& text, size_t begin, size_t end);

}  // namespace q9m::platform
