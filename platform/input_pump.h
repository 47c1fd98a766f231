// Hands what a MIDI system's real-time thread receives to the service's receiver on a thread of
// its own, so that the receiver's work (the port owner's callbacks, which allocate and lock)
// never runs in the real-time thread and cannot make it miss a cycle. The real-time side only
// copies into a ring allocated up front and wakes the pump: it never waits for a lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/midi_service.h"

namespace q9m::platform {

class InputPump {
 public:
  // Room for this many bytes not yet delivered: far more than a device sends while the
  // receiver is slow, since each of its messages waits for the host's next request.
  static constexpr size_t kCapacity = size_t{1} << 18;

  explicit InputPump(InputReceiver& receiver);
  ~InputPump() { Stop(); }
  InputPump(const InputPump&) = delete;
  InputPump& operator=(const InputPump&) = delete;

  // From one thread at a time: queues a copy of one whole message of `n` bytes. A message for
  // which the ring has no room is dropped whole, and so is every one after it until the pump
  // has delivered what came before and told the receiver of the loss (InputReceiver::Lost), so
  // that the receiver never joins the pieces on either side of a gap. False when dropped, or
  // once stopped.
  bool Push(const uint8_t* bytes, size_t n);
  // Messages dropped so far for want of room.
  uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

  // Waits for a delivery in progress; afterwards the receiver is not called any more.
  void Stop();

 private:
  void Run();
  void WakePump();

  InputReceiver& receiver_;
  const std::unique_ptr<uint8_t[]> ring_;
  std::atomic<uint64_t> written_{0};        // bytes pushed so far; only Push writes it
  std::atomic<uint64_t> read_{0};           // bytes delivered so far; only the pump writes it
  alignas(uint32_t) uint32_t wakeups_ = 0;  // a futex word, through std::atomic_ref
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> dropped_{0};
  // A message was dropped: set by Push, cleared by the pump once it has told the receiver.
  std::atomic<bool> lost_{false};
  std::thread thread_;  // last: starts once the members it uses exist
};

}  // namespace q9m::platform
