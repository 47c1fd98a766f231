// The word wait of sync.h on Windows: WaitOnAddress, the same compare-and-sleep on an address
// that the Linux futex offers, private to the process.
#include "platform/sync.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace q9m::platform {

void SleepWhileWordIs(const uint32_t* word, uint32_t seen, uint32_t milliseconds) {
  // Whole milliseconds, rounded up so that a short scaled wait does not become a busy loop;
  // INFINITE (0xFFFFFFFF) is never asked for.
  const auto real = std::chrono::ceil<std::chrono::milliseconds>(RealDuration(milliseconds));
  const DWORD timeout = static_cast<DWORD>(std::min<long long>(real.count(), 0xFFFFFFFEll));
  // Returns at once when the word no longer holds `seen`, on a wake, or on time-out.
  WaitOnAddress(const_cast<uint32_t*>(word), &seen, sizeof seen, timeout);
}

void WakeWordWaiters(const uint32_t* word) {
  WakeByAddressAll(const_cast<uint32_t*>(word));
}

// Windows timed waits end on the system timer's tick, which the timer service's raised
// resolution already makes 1 ms; there is no per-thread slack to lower.
void WakeOnTime() {}

}  // namespace q9m::platform
