// Port names on a JACK server: the name a device gives its port, with JACK's "client:" taken
// off, and which clients are this program's own.
//
// Kept free of libjack so that the rules can be checked without a server.
#pragma once

#include <string>

#include "platform/port_naming.h"

namespace q9m::platform::jack {

// JACK names a port "client:port". The client name holds no ':', so the first ':' ends it.
std::string JackClientOf(const std::string& fullName);

// The port's own name, without the "client:" prefix.
std::string CleanJackPortName(const std::string& fullName);

// True when `client` is a client that this program opened under the name `ours`: the name
// itself, or the name with the "-NN" that a JACK server appends to make a taken name unique.
bool IsOwnJackClient(const std::string& client, const std::string& ours);

// A JACK port as a device on the port lists. A port that a bridge made for an ALSA device gets
// the device's own name, as the ALSA lists give it, and a warning when the bridge is known to
// cut long messages:
// - a2jmidid: "a2j:<client> [<client id>] (capture|playback): <port>"; it drops events over 16
//   bytes on their way from JACK to ALSA;
// - PipeWire: "Midi-Bridge:<client>:(capture_N|playback_N) <port>"; its bridge cut System
//   Exclusive after about 1 KiB before version 1.2.0.
// Any other port is a device of its own named by the port's short name.
DevicePort DescribeJackPort(const std::string& fullName);

}  // namespace q9m::platform::jack
