#include "platform/jack/jack_output.h"

#include <algorithm>

namespace q9m::platform::jack {

MMRESULT JackOutputConnection::Open() {
  try {
    out_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, core_->clientName);
    out_->setErrorCallback(&RtMidiErrorSink::OnError, &errors_);
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
  return core_->RegisterAndConnect(*out_, /*output=*/true, errors_, destination_, &own_);
}

MMRESULT JackOutputConnection::SendLong(MIDIHDR* header) {
  MMRESULT result = Send(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength,
                         /*waitUntilDelivered=*/true);
  if (result == MMSYSERR_NOERROR) MarkDone(header);
  return result;
}

MMRESULT JackOutputConnection::SendShort(uint32_t packed) {
  const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                            static_cast<uint8_t>(packed >> 16)};
  return Send(bytes, ShortMessageLength(bytes[0]), /*waitUntilDelivered=*/false);
}

void JackOutputConnection::Close() {
  if (!out_) return;
  out_.reset();  // unregisters the port and closes RtMidi's client
  if (!own_.empty()) core_->Release(own_);
  inFlight_.clear();
}

bool JackOutputConnection::Linked() const {
  return out_ && core_->monitor->Connected(own_, destination_);
}

bool JackOutputConnection::WaitForRoom(size_t n, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const uint64_t now = core_->monitor->Cycles();
    while (!inFlight_.empty() && now >= inFlight_.front().writtenAt + kCyclesUntilDelivered) {
      inFlight_.pop_front();
    }
    size_t ring = n + kRingRecordBytes;
    size_t events = n + kMidiEventRecordBytes + kMidiBufferHeaderBytes;
    for (const InFlight& message : inFlight_) {
      ring += message.bytes + kRingRecordBytes;
      events += message.bytes + kMidiEventRecordBytes;
    }
    if (ring <= kRingUsableBytes && events <= core_->monitor->MidiBufferSize()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !core_->monitor->WaitForCycle(now + 1, left)) return false;
  }
}

MMRESULT JackOutputConnection::Send(const uint8_t* bytes, size_t n, bool waitUntilDelivered) {
  if (n == 0 || n > core_->MaxMessageBytes()) return MMSYSERR_INVALPARAM;
  if (!Linked()) return MMSYSERR_NODRIVER;
  const auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
  if (!WaitForRoom(n, deadline)) return Linked() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;
  errors_.Take();
  try {
    out_->sendMessage(bytes, n);
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
  if (errors_.Take()) return MMSYSERR_ERROR;
  const uint64_t writtenAt = core_->monitor->Cycles();
  inFlight_.push_back({writtenAt, n});
  if (!waitUntilDelivered) return MMSYSERR_NOERROR;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (!core_->monitor->WaitForCycle(writtenAt + kCyclesUntilDelivered,
                                    std::max(left, std::chrono::milliseconds(1)))) {
    return Linked() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;
  }
  // A device that went away while the message was on its way may not have it.
  return Linked() ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

}  // namespace q9m::platform::jack
