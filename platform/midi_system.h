// The choice among the MIDI systems that reach real ports: each system lives in a folder of its
// own behind the MidiBackend interface, and this is the one place that picks one.
#pragma once

#include <memory>
#include <string>

#include "platform/midi_service.h"

namespace q9m::platform {

enum class MidiSystem {
  Automatic,  // Windows: winmm. Linux: the ALSA sequencer when it can be opened, else a running
              // JACK server
  Alsa,
  Jack,
  Winmm,
};

// Builds the backend for `system`. `clientName` names the clients that the backend opens; ports
// of clients with that name are taken for the program's own and not listed. Nothing (with a
// reason in *error) when the system cannot be reached.
std::shared_ptr<MidiBackend> MakeMidiSystemBackend(std::string clientName, std::string* error,
                                                   MidiSystem system = MidiSystem::Automatic);

// Builds the backend and makes it the running MIDI service. False, with a reason in *error,
// when no MIDI system can be reached; the service is left as it was then.
bool StartRealMidiService(std::string clientName, std::string* error,
                          MidiSystem system = MidiSystem::Automatic);

}  // namespace q9m::platform
