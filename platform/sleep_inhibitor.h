// Keeping the computer from sleeping, shutting down or acting on its lid switch while a
// device's flash is being written: a machine that suspends mid-update leaves a device that
// does not start.
//
// One function per system: on Linux, systemd-logind's Inhibit call on the system bus
// (platform/logind/); a Windows build supplies its own (SetThreadExecutionState for the
// calling thread). Take the hold on the thread that writes and drop it on that thread.
#pragma once

#include <memory>
#include <string>

namespace q9m::platform {

// The hold: it lasts as long as the object, and ends by itself with the process.
class SleepInhibitor {
 public:
  virtual ~SleepInhibitor() = default;
};

// Holds off sleep, shutdown and the lid switch until the result is destroyed. `who` names the
// program and `why` the reason, as the system shows them. Nothing when the system offers no
// such hold or refuses it; `error` then says why.
std::unique_ptr<SleepInhibitor> HoldOffSleep(const std::string& who, const std::string& why,
                                             std::string* error);

}  // namespace q9m::platform
