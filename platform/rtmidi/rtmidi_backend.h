// Real MIDI ports through librtmidi: the ALSA sequencer, or a JACK server.
//
// The backend lists the ports of other programs and devices (never its own), opens them by
// their place in that list, sends every message whole or reports that it could not, and hands
// what arrives to the service's input parser.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/midi_service.h"

namespace q9m::platform {

enum class MidiSystem {
  Automatic,  // the ALSA sequencer when it can be opened, else a running JACK server
  Alsa,
  Jack,
};

// Longest message the JACK path takes: RtMidi copies each message with a 4-byte length into a
// 16,384-byte ring (of which 16,383 bytes are usable) and drops one that cannot fit. A server
// whose MIDI buffers are smaller lowers the limit further.
inline constexpr size_t kJackMaxMessageBytes = 16384 - 1 - 4;
// Longest message the ALSA path takes: the sequencer's 16 KiB output buffer holds the event
// record and the message, and larger events fail.
inline constexpr size_t kAlsaMaxMessageBytes = 16000;

// Builds the backend for `system`. `clientName` names the clients that the backend opens; ports
// of clients with that name are taken for the program's own and not listed. Nothing (with a
// reason in *error) when the system cannot be reached.
std::shared_ptr<MidiBackend> MakeRtMidiBackend(std::string clientName, std::string* error,
                                               MidiSystem system = MidiSystem::Automatic);

// Builds the backend and makes it the running MIDI service. False, with a reason in *error,
// when no MIDI system can be reached; the service is left as it was then.
bool StartRealMidiService(std::string clientName, std::string* error,
                          MidiSystem system = MidiSystem::Automatic);

}  // namespace q9m::platform
