#include "platform/jack/jack_output.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <thread>

#include "platform/sync.h"

namespace q9m::platform::jack {

namespace {

std::atomic_ref<uint32_t> SlotOf(uint32_t& slot) {
  return std::atomic_ref<uint32_t>(slot);
}

}  // namespace

MMRESULT JackOutputConnection::Open() {
  jack_status_t status{};
  client_ = jack_client_open(core_->clientName.c_str(), JackNoStartServer, &status);
  if (client_ == nullptr) return MMSYSERR_ERROR;
  const std::string shortName = core_->NewPortName("out");
  port_ =
      jack_port_register(client_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (port_ == nullptr || jack_set_process_callback(client_, &OnProcess, this) != 0 ||
      jack_activate(client_) != 0) {
    return MMSYSERR_ERROR;
  }
  auto own = core_->Adopt(shortName);
  if (!own) return MMSYSERR_ERROR;
  own_ = *own;
  if (!core_->monitor->Connect(own_, destination_, nullptr)) {
    return core_->monitor->PortExists(destination_) ? MMSYSERR_ERROR : MMSYSERR_BADDEVICEID;
  }
  return core_->AwaitConnection() ? MMSYSERR_NOERROR : MIDIERR_NOTREADY;
}

int JackOutputConnection::OnProcess(uint32_t frames, void* self) {
  auto* out = static_cast<JackOutputConnection*>(self);
  const uint64_t cycle = out->cycles_.fetch_add(1, std::memory_order_acq_rel) + 1;
  void* buffer = jack_port_get_buffer(out->port_, frames);
  jack_midi_clear_buffer(buffer);
  uint32_t posted = kPosted;
  if (!SlotOf(out->slot_).compare_exchange_strong(posted, kWriting, std::memory_order_acquire)) {
    return 0;
  }
  // Send checked the size against the buffer, so the message fits into an empty cycle.
  const bool written = jack_midi_event_write(buffer, 0, out->bytes_, out->size_) == 0;
  if (written) out->takenIn_.store(cycle, std::memory_order_release);
  SlotOf(out->slot_).store(written ? kTaken : kPosted, std::memory_order_release);
  if (written) WakeWordWaiters(&out->slot_);
  return 0;
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
  if (client_ == nullptr) return;
  // The last message sent is in the port buffer of the cycle that took it, which may still be
  // running: the destination has it once the next cycle has begun.
  const uint64_t taken = takenIn_.load(std::memory_order_acquire);
  const auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
  while (taken != 0 && cycles_.load(std::memory_order_acquire) <= taken &&
         core_->monitor->Alive() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  // Closing the client stops its process callback; no message is posted any more, since sends
  // hold the port's send lock, as Close does.
  jack_client_close(client_);
  client_ = nullptr;
  port_ = nullptr;
  if (!own_.empty()) core_->Release(own_);
}

bool JackOutputConnection::Linked() const {
  return client_ != nullptr && core_->monitor->Connected(own_, destination_);
}

bool JackOutputConnection::WaitWhileSlotIs(uint32_t state,
                                           std::chrono::steady_clock::time_point deadline) {
  while (SlotOf(slot_).load(std::memory_order_acquire) == state) {
    if (std::chrono::steady_clock::now() >= deadline || !core_->monitor->Alive()) return false;
    SleepWhileWordIs(&slot_, state, 1);  // the process callback wakes it once it took the message
  }
  return true;
}

MMRESULT JackOutputConnection::Send(const uint8_t* bytes, size_t n) {
  if (n == 0 || n > core_->MaxMessageBytes()) return MMSYSERR_INVALPARAM;
  if (!Linked()) return MMSYSERR_NODRIVER;
  bytes_ = bytes;
  size_ = n;
  SlotOf(slot_).store(kPosted, std::memory_order_release);
  const auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
  if (!WaitWhileSlotIs(kPosted, deadline)) {
    uint32_t posted = kPosted;
    if (SlotOf(slot_).compare_exchange_strong(posted, kEmpty)) {
      return Linked() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;  // withdrawn, never sent
    }
  }
  // Taken, or being written right now: the write ends within the cycle.
  WaitWhileSlotIs(kWriting, std::chrono::steady_clock::time_point::max());
  SlotOf(slot_).store(kEmpty, std::memory_order_relaxed);
  // In the port buffer of a cycle: JACK hands it to the destination within that cycle. A
  // device that went away meanwhile may not have it.
  return Linked() ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

}  // namespace q9m::platform::jack
