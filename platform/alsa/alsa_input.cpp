#include "platform/alsa/alsa_input.h"

#include "platform/alsa/alsa_rtmidi.h"

namespace q9m::platform::alsa {

namespace {
// ALSA hands received System Exclusive over in pieces of this size; RtMidi joins them.
constexpr unsigned int kAlsaInputChunkBytes = 8192;
constexpr unsigned int kAlsaInputChunkCount = 8;
}  // namespace

MMRESULT AlsaInputSource::Open() {
  try {
    in_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName_, kInputQueueLimit);
    in_->setErrorCallback(&RtMidiErrorSink::OnError, &errors_);
    in_->ignoreTypes(/*midiSysex=*/false, /*midiTime=*/true, /*midiSense=*/true);
    in_->setBufferSize(kAlsaInputChunkBytes, kAlsaInputChunkCount);
    in_->setCallback(&InputPump::OnMessage, &pump_);
    return OpenAlsaPort(*in_, errors_, source_, "in");
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
}

void AlsaInputSource::Close() {
  // RtMidi joins its ALSA input thread when the port closes, so no callback runs afterwards.
  in_.reset();
  pump_.Stop();
}

}  // namespace q9m::platform::alsa
