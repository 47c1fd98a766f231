#include "platform/jack/jack_output.h"

namespace q9m::platform::jack {

MMRESULT JackOutputConnection::Open() {
  channel_ = client_->OpenOutput();
  if (channel_ == nullptr) return MMSYSERR_ERROR;
  return client_->Link(channel_->FullName(), destination_, destination_);
}

MMRESULT JackOutputConnection::SendLong(MIDIHDR* header) {
  MMRESULT result = Send(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
  if (result == MMSYSERR_NOERROR) MarkDone(header);
  return result;
}

MMRESULT JackOutputConnection::SendShort(uint32_t packed) {
  const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                            static_cast<uint8_t>(packed >> 16)};
  return Send(bytes, ShortMessageLength(bytes[0]));
}

void JackOutputConnection::Close() {
  // Sends hold the port's send lock, as Close does, so no message is posted meanwhile. The
  // last one is in the port buffer of the cycle that took it; the client lets the port go in a
  // later cycle, by when the destination has it.
  if (channel_ != nullptr) client_->Close(channel_);
  channel_ = nullptr;
}

bool JackOutputConnection::Linked() const {
  return channel_ != nullptr && client_->Connected(channel_->FullName(), destination_);
}

MMRESULT JackOutputConnection::Send(const uint8_t* bytes, size_t n) {
  if (n == 0 || n > client_->MaxMessageBytes()) return MMSYSERR_INVALPARAM;
  if (!Linked()) return MMSYSERR_NODRIVER;
  channel_->Post(bytes, n);
  if (!channel_->WaitTaken(std::chrono::steady_clock::now() + kSendTimeout, *client_)) {
    return Linked() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;  // withdrawn, never sent
  }
  // In the port buffer of a cycle: JACK hands it to the destination within that cycle. A
  // device that went away meanwhile may not have it.
  return Linked() ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

}  // namespace q9m::platform::jack
