#include "platform/alsa/alsa_output.h"

#include "platform/alsa/alsa_backend.h"
#include "platform/alsa/alsa_rtmidi.h"

namespace q9m::platform::alsa {

MMRESULT AlsaOutputConnection::Open() {
  try {
    out_ = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName_);
    out_->setErrorCallback(&RtMidiErrorSink::OnError, &errors_);
    return OpenAlsaPort(*out_, errors_, destination_, "out");
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
}

MMRESULT AlsaOutputConnection::SendLong(MIDIHDR* header) {
  MMRESULT result = Send(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
  // The sequencer has the whole event once the send returns without an error.
  if (result == MMSYSERR_NOERROR) MarkDone(header);
  return result;
}

MMRESULT AlsaOutputConnection::SendShort(uint32_t packed) {
  const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                            static_cast<uint8_t>(packed >> 16)};
  return Send(bytes, ShortMessageLength(bytes[0]));
}

MMRESULT AlsaOutputConnection::Send(const uint8_t* bytes, size_t n) {
  if (n == 0 || n > kAlsaMaxMessageBytes) return MMSYSERR_INVALPARAM;
  if (!out_) return MMSYSERR_NODRIVER;
  try {
    // A message to a subscription without subscribers goes nowhere without an error, so the
    // destination's presence is checked before and after.
    if (!RtMidiIndexOf(*out_, destination_)) return MMSYSERR_NODRIVER;
    errors_.Take();
    out_->sendMessage(bytes, n);
    if (errors_.Take()) return MMSYSERR_ERROR;
    if (!RtMidiIndexOf(*out_, destination_)) return MMSYSERR_NODRIVER;
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
  return MMSYSERR_NOERROR;
}

}  // namespace q9m::platform::alsa
