// Port names on the ALSA sequencer as librtmidi reports them: the name a device gives itself,
// with the numeric ids taken off, and which ports are this program's own.
//
// Kept free of librtmidi so that the rules can be checked without a sequencer.
#pragma once

#include <string>

namespace q9m::platform::alsa {

// RtMidi names an ALSA port "client name:port name C:P", C and P being the numeric client and
// port ids. The ids change with every plug-in, so the listed name is "client name:port name".
std::string CleanAlsaPortName(const std::string& rtmidiName);

// An ALSA client's ports appear as "client name:...". The client name alone cannot be split
// off a name that holds ':' in the port part, so the test is on the prefix.
bool IsOwnAlsaPort(const std::string& rtmidiName, const std::string& ours);

}  // namespace q9m::platform::alsa
