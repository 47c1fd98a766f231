// The word wait of sync.h on Linux: a futex on the word itself, and the timer slack.
#include "platform/sync.h"

#include <linux/futex.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>

namespace q9m::platform {

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

}  // namespace q9m::platform
