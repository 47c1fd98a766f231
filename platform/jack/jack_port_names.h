// Port names on a JACK server: the name a device gives its port, with JACK's "client:" taken
// off, and the ALSA devices behind the bridges.
//
// Kept free of libjack so that the rules can be checked without a server.
#pragma once

#include <string>
#include <vector>

#include "platform/port_naming.h"

namespace q9m::platform::jack {

// JACK names a port "client:port". The client name holds no ':', so the first ':' ends it.
std::string JackClientOf(const std::string& fullName);

// The port's own name, without the "client:" prefix.
std::string CleanJackPortName(const std::string& fullName);

// A port as the server reports it: its full name and its aliases (jack_port_get_aliases).
struct JackPortNames {
  std::string fullName;
  std::vector<std::string> aliases{};
};

// The ports of one direction, in the server's order, as devices on the port lists. A port that
// a bridge made for an ALSA device gets the device's own name as far as the bridge kept it
// (the bridges replace some characters, and every byte of a non-ASCII name), and a warning
// when the bridge cuts long messages:
// - a2jmidid, client "a2j": drops every event over 16 bytes on its way to the device;
// - PipeWire, client "Midi-Bridge": passes on only the first 1,024 bytes of a System Exclusive
//   message before version 1.2.0;
// - jackd -X seq, ports "system:midi_capture_N" named in their aliases: passes on only the
//   first 1,024 bytes of a System Exclusive message;
// - jackd -X alsarawmidi, ports "system_midi:capture_N": drops messages over 4,096 bytes.
// jackd -X raw ("system:midi_capture_N" with one alias) takes whole messages to the device.
// jackd's bridge ports come in the order of their numbers, which is the order in which jackd
// found the devices; identical devices whose names carry no number are told apart by the order
// of their ports. Any other port is a device of its own named by the port's short name.
std::vector<DevicePort> DescribeJackPorts(std::vector<JackPortNames> ports);

}  // namespace q9m::platform::jack
