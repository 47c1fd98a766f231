// Real ports on ALSA, through alsa-lib.
//
// The ports are those of the sequencer: the kernel makes one for every card's raw MIDI port,
// and programs make their own. The backend lists them under the names that a device gives
// itself (never the program's own ports), and opens them by their place in that list.
//
// A port that stands for a card's raw MIDI device is opened as raw MIDI: nothing is written that
// the kernel's buffer has no room for, and the buffer's fill tells when the last byte has gone,
// so a message reaches the device whole at whatever speed it takes bytes. Through the sequencer
// the kernel drops an event that does not fit that buffer, unseen by the sender. So the
// sequencer is used only where raw MIDI cannot be: for programs' ports and VirMIDI ports, and
// when another program (a sound server subscribed to the port, say) holds the raw device. Then
// messages go as events of 256 bytes, each sent only when the buffer behind the port (read from
// /proc/asound) has room for it. Measured on an emulated USB device, a whole update took 40 to
// 57 s over raw MIDI and 105 s over the paced sequencer, with nothing lost by either.
#pragma once

#include <memory>
#include <string>

#include "platform/midi_service.h"

namespace q9m::platform {

// The backend on the sequencer; `clientName` names its clients, and ports of clients with that
// name are taken for the program's own. Nothing, with the reason in *why, when the sequencer
// cannot be opened.
std::shared_ptr<MidiBackend> MakeAlsaBackend(const std::string& clientName, std::string* why);

}  // namespace q9m::platform
