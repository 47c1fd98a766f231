#include "platform/sync.h"

#include <linux/futex.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <ctime>
#include <thread>

namespace q9m::platform {

namespace {
std::atomic<double> clockScale{1.0};
}

void SetClockScale(double platformPerReal) {
  clockScale = platformPerReal > 0 ? platformPerReal : 1;
}

double ClockScale() {
  return clockScale;
}

std::chrono::steady_clock::duration RealDuration(uint32_t milliseconds) {
  const double scale = clockScale;
  if (scale == 1.0) return std::chrono::milliseconds(milliseconds);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double, std::milli>(milliseconds / scale));
}

void Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(RealDuration(milliseconds));
}

// A futex on the word itself: private to this process, so the kernel keys it by address.
void SleepWhileWordIs(const uint32_t* word, uint32_t seen, uint32_t milliseconds) {
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(RealDuration(milliseconds)).count();
  const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                         static_cast<long>(ns % 1'000'000'000)};
  // Returns at once when the word no longer holds `seen` (EAGAIN), on a wake, or on time-out.
  syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, seen, &timeout, nullptr, 0);
}

void WakeWordWaiters(const uint32_t* word) {
  syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

void WakeOnTime() {
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // 1 ns; 0 would mean the default again
}

void AutoResetEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, RealDuration(milliseconds), [this] { return signalled_; })) {
    return false;
  }
  signalled_ = false;
  return true;
}

void StopSignal::Raise() {
  {
    std::lock_guard lock(mutex_);
    raised_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
}

bool StopSignal::SleepFor(uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, RealDuration(milliseconds), [this] { return Raised(); });
}

}  // namespace q9m::platform
