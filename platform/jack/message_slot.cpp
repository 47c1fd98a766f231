#include "platform/jack/message_slot.h"

#include "platform/sync.h"

namespace q9m::platform::jack {

namespace {

std::atomic_ref<uint32_t> Word(uint32_t& word) {
  return std::atomic_ref<uint32_t>(word);
}

}  // namespace

void MessageSlot::Post(const uint8_t* bytes, size_t n) {
  bytes_ = bytes;
  size_ = n;
  Word(state_).store(kPosted, std::memory_order_release);
}

bool MessageSlot::WaitWhile(uint32_t state, std::chrono::steady_clock::time_point deadline,
                            const std::atomic<bool>& alive) {
  while (Word(state_).load(std::memory_order_acquire) == state) {
    if (std::chrono::steady_clock::now() >= deadline || !alive.load(std::memory_order_acquire)) {
      return false;
    }
    SleepWhileWordIs(&state_, state, 1);  // Finish wakes it
  }
  return true;
}

bool MessageSlot::WaitTaken(std::chrono::steady_clock::time_point deadline,
                            const std::atomic<bool>& alive) {
  if (!WaitWhile(kPosted, deadline, alive)) {
    uint32_t posted = kPosted;
    if (Word(state_).compare_exchange_strong(posted, kEmpty)) return false;  // withdrawn
  }
  // Claimed: the write ends within the writer's cycle, whatever the deadline, unless the
  // writer's thread ended with it.
  const bool finished = WaitWhile(kWriting, std::chrono::steady_clock::time_point::max(), alive);
  const bool taken = finished && Word(state_).load(std::memory_order_acquire) == kTaken;
  Word(state_).store(kEmpty, std::memory_order_relaxed);
  return taken;
}

bool MessageSlot::Claim(const uint8_t** bytes, size_t* n) {
  uint32_t posted = kPosted;
  if (!Word(state_).compare_exchange_strong(posted, kWriting, std::memory_order_acquire)) {
    return false;
  }
  *bytes = bytes_;
  *n = size_;
  return true;
}

void MessageSlot::Finish(bool written) {
  Word(state_).store(written ? kTaken : kRefused, std::memory_order_release);
  WakeWordWaiters(&state_);
}

}  // namespace q9m::platform::jack
