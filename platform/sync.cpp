#include "platform/sync.h"

#include <atomic>
#include <cstdint>
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
