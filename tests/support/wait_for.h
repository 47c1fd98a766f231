// Waiting, in a test, for what another thread does.
#pragma once

#include <chrono>
#include <thread>

namespace q9m::testing {

// Polls `done` every millisecond for up to `limit`; true as soon as it holds. The default is
// generous, because sanitizer builds run slowly.
template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::steady_clock::duration limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace q9m::testing
