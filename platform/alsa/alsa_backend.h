// Real ports on the ALSA sequencer, through librtmidi.
//
// The backend lists the sequencer ports of other programs and devices (never its own), opens
// them by their place in that list, sends every message whole or reports that it could not,
// and hands what arrives to the service's input parser.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/midi_service.h"

namespace q9m::platform {

// Longest message the ALSA path takes: the sequencer's 16 KiB output buffer holds the event
// record and the message, and larger events fail.
inline constexpr size_t kAlsaMaxMessageBytes = 16000;

// The backend on the sequencer; `clientName` names its clients, and ports of clients with that
// name are taken for the program's own. Nothing, with the reason in *why, when the sequencer
// cannot be opened.
std::shared_ptr<MidiBackend> MakeAlsaBackend(const std::string& clientName, std::string* why);

}  // namespace q9m::platform
