#include "platform/input_pump.h"

#include <algorithm>
#include <cstring>

#include "platform/sync.h"

namespace q9m::platform {

namespace {

// The pump looks at the ring again after this long even without a wake-up; a wake-up is never
// lost, so this only bounds the cost of a mistake.
constexpr uint32_t kIdleCheckMs = 1000;

std::atomic_ref<uint32_t> Word(uint32_t& word) {
  return std::atomic_ref<uint32_t>(word);
}

}  // namespace

InputPump::InputPump(InputReceiver& receiver)
    : receiver_(receiver), ring_(new uint8_t[kCapacity]), thread_([this] { Run(); }) {}

bool InputPump::Push(const uint8_t* bytes, size_t n) {
  if (n == 0 || stopping_.load(std::memory_order_acquire)) return false;
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint64_t free = kCapacity - (written - read_.load(std::memory_order_acquire));
  if (lost_.load(std::memory_order_acquire) || n > free) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    lost_.store(true, std::memory_order_release);
    WakePump();
    return false;
  }
  const size_t at = written % kCapacity;
  const size_t first = std::min(n, kCapacity - at);
  std::memcpy(ring_.get() + at, bytes, first);
  std::memcpy(ring_.get(), bytes + first, n - first);
  written_.store(written + n, std::memory_order_release);
  WakePump();
  return true;
}

void InputPump::WakePump() {
  Word(wakeups_).fetch_add(1, std::memory_order_release);
  WakeWordWaiters(&wakeups_);
}

void InputPump::Stop() {
  stopping_.store(true, std::memory_order_release);
  WakePump();
  if (thread_.joinable()) thread_.join();
}

void InputPump::Run() {
  uint64_t read = 0;
  while (!stopping_.load(std::memory_order_acquire)) {
    // Read the wake-up count before looking at the ring: a push after the look changes it, so
    // the sleep below does not miss that push.
    const uint32_t seen = Word(wakeups_).load(std::memory_order_acquire);
    // Nothing is pushed while a loss is pending, so once the ring is delivered, the loss comes
    // next in the stream.
    const bool lost = lost_.load(std::memory_order_acquire);
    const uint64_t written = written_.load(std::memory_order_acquire);
    if (written == read && lost) {
      receiver_.Lost();
      lost_.store(false, std::memory_order_release);
      continue;
    }
    if (written == read) {
      SleepWhileWordIs(&wakeups_, seen, kIdleCheckMs);
      continue;
    }
    // The receiver takes any split of the byte stream: hand over what lies in one piece.
    const size_t at = read % kCapacity;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(written - read, kCapacity - at));
    receiver_.Receive(ring_.get() + at, n);
    read += n;
    read_.store(read, std::memory_order_release);
  }
}

}  // namespace q9m::platform
