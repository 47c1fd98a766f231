// The program's periodic timer on the multimedia timer service: raises the timer resolution
// while it runs and calls either a given callback or its own OnTick on the timer's thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/timer_service.h"

namespace q9m::midi {

using TimerCallback = platform::LPTIMECALLBACK;

class CDxMTimer {
 public:
  CDxMTimer();
  // Not virtual: timers are owned by their exact type and never deleted through a pointer to
  // this class. A class that overrides OnTick calls Stop in its own destructor, so that no
  // tick reaches it while it is being destroyed.
  ~CDxMTimer();
  CDxMTimer(const CDxMTimer&) = delete;
  CDxMTimer& operator=(const CDxMTimer&) = delete;

  // Stops a running event, then starts one every `delay` ms that calls `callback` with `user`,
  // or OnTick when no callback is given. `flags` are added to the event's kind: with
  // platform::TIME_MIDI_PORTS the ticks serve the MIDI ports (every `delay` ms while a port is
  // open, at once when a message arrives, none while no port is open). Returns the event's id,
  // 0 when the service refused.
  uint32_t Start(uint32_t delay, TimerCallback callback = nullptr, uintptr_t user = 0,
                 uint32_t flags = 0);
  // Stops the event, if one runs; no tick follows once it returns. Always 1.
  int Stop();

  uint32_t TimerId() const { return timerId_.load(); }
  uint32_t MinPeriod() const { return minPeriod_; }
  uint32_t MaxPeriod() const { return maxPeriod_; }

  // Calls the OnTick of the timer that `user` points to.
  static void DefaultTimerCallback(uint32_t id, uint32_t message, uintptr_t user,
                                   uintptr_t reserved1, uintptr_t reserved2);

 protected:
  // Runs on the timer's thread at every tick when Start was given no callback.
  virtual void OnTick() {}

 private:
  // Atomic because an OnTick that stops its own timer writes it on the timer's thread.
  std::atomic<uint32_t> timerId_{0};
  uint32_t minPeriod_ = 0;
  uint32_t maxPeriod_ = 0;
};

}  // namespace q9m::midi
