// The system timer's resolution, raised while a periodic event runs. Windows keeps timed waits
// to its timer's tick, 15.6 ms unless a program asks for finer, which would make the 1 ms tick
// a 16 ms one; Linux timers are high resolution already.
#pragma once

#include <cstdint>

namespace q9m::platform {

#ifdef _WIN32
// winmm's timeBeginPeriod and timeEndPeriod, in matching pairs.
void RaiseSystemTimerResolution(uint32_t periodMs);
void LowerSystemTimerResolution(uint32_t periodMs);
#else
inline void RaiseSystemTimerResolution(uint32_t) {}
inline void LowerSystemTimerResolution(uint32_t) {}
#endif

}  // namespace q9m::platform
