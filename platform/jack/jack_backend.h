// Real ports on a running JACK server, through libjack: one client of the program's own, with a
// MIDI port for each port it opens.
//
// The backend lists the MIDI ports of other programs and devices (never its own), opens them
// by their place in that list, sends every message whole or reports that it could not, and
// hands what arrives to the service's input parser.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/midi_service.h"

namespace q9m::platform {

// Longest message the JACK path takes: each message leaves whole, as one event of one cycle, and
// this is more than three times the protocol's longest. A server whose MIDI buffers are smaller
// lowers the limit further.
inline constexpr size_t kJackMaxMessageBytes = 16384;

// The backend on the running server (never starts one); `clientName` names its client, and
// ports of clients with that name are taken for the program's own. Nothing, with the reason in
// *why, when no server runs.
std::shared_ptr<MidiBackend> MakeJackBackend(const std::string& clientName, std::string* why);

}  // namespace q9m::platform
