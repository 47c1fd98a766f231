#include "platform/timer_resolution.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

namespace q9m::platform {

void RaiseSystemTimerResolution(uint32_t periodMs) {
  timeBeginPeriod(periodMs);
}

void LowerSystemTimerResolution(uint32_t periodMs) {
  timeEndPeriod(periodMs);
}

}  // namespace q9m::platform
