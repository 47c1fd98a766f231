// Port names on a JACK server: the name a device gives its port, with JACK's "client:" taken
// off, and which clients are this program's own.
//
// Kept free of libjack so that the rules can be checked without a server.
#pragma once

#include <string>

namespace q9m::platform::jack {

// JACK names a port "client:port". The client name holds no ':', so the first ':' ends it.
std::string JackClientOf(const std::string& fullName);

// The port's own name, without the "client:" prefix.
std::string CleanJackPortName(const std::string& fullName);

// True when `client` is a client that this program opened under the name `ours`: the name
// itself, or the name with the "-NN" that a JACK server appends to make a taken name unique.
bool IsOwnJackClient(const std::string& client, const std::string& ours);

}  // namespace q9m::platform::jack
