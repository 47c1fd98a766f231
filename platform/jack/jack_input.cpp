#include "platform/jack/jack_input.h"

namespace q9m::platform::jack {

MMRESULT JackInputSource::Open() {
  try {
    in_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, core_->clientName, kInputQueueLimit);
    in_->setErrorCallback(&RtMidiErrorSink::OnError, &errors_);
    in_->ignoreTypes(/*midiSysex=*/false, /*midiTime=*/true, /*midiSense=*/true);
    in_->setCallback(&InputPump::OnMessage, &pump_);
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
  return core_->RegisterAndConnect(*in_, /*output=*/false, errors_, source_, &own_);
}

void JackInputSource::Close() {
  // Closing RtMidi's client stops its process thread, so no callback is running or will run;
  // then the pump finishes a delivery in progress and stops.
  if (in_) {
    in_.reset();
    if (!own_.empty()) core_->Release(own_);
  }
  pump_.Stop();
}

}  // namespace q9m::platform::jack
