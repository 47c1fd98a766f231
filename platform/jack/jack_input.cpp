#include "platform/jack/jack_input.h"

namespace q9m::platform::jack {

MMRESULT JackInputSource::Open() {
  channel_ = client_->OpenInput(pump_);
  if (channel_ == nullptr) return MMSYSERR_ERROR;
  if (!client_->Connect(source_, channel_->FullName())) {
    return client_->PortExists(source_) ? MMSYSERR_ERROR : MMSYSERR_BADDEVICEID;
  }
  return client_->AwaitConnection() ? MMSYSERR_NOERROR : MIDIERR_NOTREADY;
}

void JackInputSource::Close() {
  // Once the client has let the port go, the process callback no longer pushes to the pump;
  // then the pump finishes a delivery in progress and stops.
  if (channel_ != nullptr) client_->Close(channel_);
  channel_ = nullptr;
  pump_.Stop();
}

}  // namespace q9m::platform::jack
