// The hand-over of one message at a time from a sender to a real-time thread that writes it
// out (the JACK process callback), without a lock: a word that moves
//   kEmpty -(Post)-> kPosted -(Claim)-> kWriting -(Finish)-> kTaken or kRefused -(sender)-> kEmpty
// and back from kPosted to kEmpty when the sender withdraws a message that no cycle claimed.
// The writer reads the bytes only between Claim and Finish; a refused message is never claimed
// again, so once WaitTaken has returned the bytes may go.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace q9m::platform::jack {

class MessageSlot {
 public:
  // Hands `n` bytes at `bytes` to the writer; they stay valid until WaitTaken returns.
  void Post(const uint8_t* bytes, size_t n);
  // True once the writer has written the posted message. False when it refused the message, or
  // when `deadline` passed (or `alive` turned false) before it claimed it: then the message is
  // withdrawn. A message being written at the deadline is waited for.
  bool WaitTaken(std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& alive);

  // The writer's side, from one thread: takes the posted message, if any, and then reports
  // whether it was written.
  bool Claim(const uint8_t** bytes, size_t* n);
  void Finish(bool written);

 private:
  enum State : uint32_t { kEmpty, kPosted, kWriting, kTaken, kRefused };
  // Waits while the slot is `state`; false when the deadline passed or `alive` turned false.
  bool WaitWhile(uint32_t state, std::chrono::steady_clock::time_point deadline,
                 const std::atomic<bool>& alive);

  // Written by the sender before it posts, read by the writer once it has claimed the slot.
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
  alignas(uint32_t) uint32_t state_ = kEmpty;  // through std::atomic_ref; a futex word
};

}  // namespace q9m::platform::jack
