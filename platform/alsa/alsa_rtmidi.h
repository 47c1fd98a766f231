// Finding and opening a sequencer port through librtmidi by its RtMidi name.
#pragma once

#include <optional>
#include <string>

#include "platform/jack/rtmidi_support.h"
#include "platform/midi_types.h"

namespace q9m::platform::alsa {

// With a callback RtMidi queues nothing; the limit only matters if a message ever arrives
// before the callback is set.
inline constexpr unsigned int kInputQueueLimit = 4096;

// Finds the RtMidi index of the port whose RtMidi name is `id` (the name holds the numeric
// client and port ids, so it names one port).
inline std::optional<unsigned int> RtMidiIndexOf(RtMidi& midi, const std::string& id) {
  const unsigned int count = midi.getPortCount();
  for (unsigned int i = 0; i < count; ++i) {
    if (midi.getPortName(i) == id) return i;
  }
  return std::nullopt;
}

// Opens the port of `midi` (an RtMidiOut or RtMidiIn client on the sequencer, its errors
// reported to `errors`), named `ownName`, connected with the port whose RtMidi name is `peer`.
// RtMidi may throw; the caller catches.
inline MMRESULT OpenAlsaPort(RtMidi& midi, RtMidiErrorSink& errors, const std::string& peer,
                             const char* ownName) {
  auto index = RtMidiIndexOf(midi, peer);
  if (!index) return MMSYSERR_BADDEVICEID;
  midi.openPort(*index, ownName);
  if (errors.Take() || !midi.isPortOpen()) return MMSYSERR_ERROR;
  return MMSYSERR_NOERROR;
}

}  // namespace q9m::platform::alsa
