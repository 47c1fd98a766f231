#include "platform/jack/jack_input.h"

namespace q9m::platform::jack {

MMRESULT JackInputSource::Open() {
  channel_ = client_->OpenInput(pump_);
  if (channel_ == nullptr) return MMSYSERR_ERROR;
  return client_->Link(source_, channel_->FullName(), source_);
}

void JackInputSource::Close() {
  // Once the client has let the port go, the process callback no longer pushes to the pump;
  // then the pump finishes a delivery in progress and stops.
  if (channel_ != nullptr) client_->Close(channel_);
  channel_ = nullptr;
  pump_.Stop();
}

}  // namespace q9m::platform::jack
