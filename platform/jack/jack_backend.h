// Real ports on a running JACK server, through librtmidi.
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

// Longest message the JACK path takes: RtMidi copies each message with a 4-byte length into a
// 16,384-byte ring (of which 16,383 bytes are usable) and drops one that cannot fit. A server
// whose MIDI buffers are smaller lowers the limit further.
inline constexpr size_t kJackMaxMessageBytes = 16384 - 1 - 4;

// The backend on the running server (never starts one); `clientName` names its clients, and
// ports of clients with that name are taken for the program's own. Nothing, with the reason in
// *why, when no server runs.
std::shared_ptr<MidiBackend> MakeJackBackend(const std::string& clientName, std::string* why);

}  // namespace q9m::platform
