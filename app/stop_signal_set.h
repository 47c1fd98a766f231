// The signals that stop an update, for the dialog and the CLI alike: SIGINT (Ctrl-C), SIGTERM
// and SIGHUP. Both programs block them in every thread and read them in one place.
#pragma once

#include <csignal>

namespace q9m::app {

inline sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace q9m::app
