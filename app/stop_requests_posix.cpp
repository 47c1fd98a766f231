// The stop requests are the signals of stop_signal_set.h, blocked in every thread and taken
// from the main thread's wait, so that no code runs inside a signal handler.
#include "app/stop_requests.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include "app/stop_signal_set.h"

namespace q9m::app {

namespace {

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "the user (Ctrl-C)";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

}  // namespace

void TakeOverStopRequests() {
  const sigset_t stopSignals = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

std::string WaitForStopRequest(std::chrono::milliseconds timeout) {
  const sigset_t stopSignals = StopSignalSet();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  const timespec wait{static_cast<time_t>(ns / 1'000'000'000),
                      static_cast<long>(ns % 1'000'000'000)};
  const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
  return signal > 0 ? SignalName(signal) : std::string();
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

long CurrentProcessId() {
  return static_cast<long>(getpid());
}

}  // namespace q9m::app
