// Waiting: the millisecond sleep, and the auto-reset event with a timed wait.
//
// Both run on the platform clock. Tests that would otherwise wait for minutes speed that clock
// up with SetClockScale; the product never calls it, so its time-outs are real milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace q9m::platform {

// Suspends the calling thread for `milliseconds` of platform time.
void Sleep(uint32_t milliseconds);

// Sleeps while the word at `word` still holds `seen`, for at most `milliseconds` of platform
// time; WakeWordWaiters(word) from another thread ends the sleep at once. It may also end
// early for no reason: callers look at the word again. Neither side takes a lock, so the
// waking side may be a driver's real-time thread.
void SleepWhileWordIs(const uint32_t* word, uint32_t seen, uint32_t milliseconds);
void WakeWordWaiters(const uint32_t* word);

// Lets the calling thread's timed waits end on their deadline instead of up to 50 us later (the
// kernel's slack for ordinary threads): for threads that model time, as an emulated link does.
void WakeOnTime();

// How many platform milliseconds pass in one real millisecond (1 in the product).
void SetClockScale(double platformPerReal);
double ClockScale();
// Real duration of `milliseconds` of platform time.
std::chrono::steady_clock::duration RealDuration(uint32_t milliseconds);

// An unnamed auto-reset event: Set wakes one wait (or the next one, if nobody waits yet), and
// a wait that ends signalled resets the event.
class AutoResetEvent {
 public:
  void Set();
  void Reset();
  // True when signalled within `milliseconds` of platform time, false on time-out.
  bool Wait(uint32_t milliseconds);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

// A one-way flag that sleeping threads notice at once: raised when the window closes, so that
// no pause or wait runs on for its full length.
class StopSignal {
 public:
  void Raise();
  bool Raised() const { return raised_.load(std::memory_order_acquire); }
  // Sleeps `milliseconds` of platform time; returns early, with false, once raised.
  bool SleepFor(uint32_t milliseconds);

 private:
  std::atomic<bool> raised_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace q9m::platform
