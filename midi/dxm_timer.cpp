#include "midi/dxm_timer.h"

namespace q9m::midi {

using namespace q9m::platform;

CDxMTimer::CDxMTimer() {
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) == TIMERR_NOERROR) {
    minPeriod_ = caps.wPeriodMin;
    maxPeriod_ = caps.wPeriodMax;
  }
}

CDxMTimer::~CDxMTimer() {
  Stop();
}

uint32_t CDxMTimer::Start(uint32_t delay, TimerCallback callback, uintptr_t user, uint32_t flags) {
  Stop();
  timeBeginPeriod(minPeriod_);
  const uint32_t id = timeSetEvent(
      delay, minPeriod_, callback != nullptr ? callback : &DefaultTimerCallback,
      callback != nullptr ? user : reinterpret_cast<uintptr_t>(this), TIME_PERIODIC | flags);
  // No event runs to hold the raised resolution: lower it again.
  if (id == 0) timeEndPeriod(minPeriod_);
  timerId_ = id;
  return id;
}

int CDxMTimer::Stop() {
  const uint32_t id = timerId_.exchange(0);
  if (id != 0) {
    timeKillEvent(id);
    timeEndPeriod(minPeriod_);
  }
  return 1;
}

void CDxMTimer::DefaultTimerCallback(uint32_t /*id*/, uint32_t /*message*/, uintptr_t user,
                                     uintptr_t /*reserved1*/, uintptr_t /*reserved2*/) {
  reinterpret_cast<CDxMTimer*>(user)->OnTick();
}

}  // namespace q9m::midi
