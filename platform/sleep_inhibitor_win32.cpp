// Windows keeps a thread's execution state: while the updating thread has said that it needs
// the system, the machine does not go to sleep on its idle timer. The state is the thread's own
// and ends with the thread or the process, so a killed program holds nothing.
#include <windows.h>

#include "platform/sleep_inhibitor.h"

namespace q9m::platform {

namespace {

class ThreadExecutionState final : public SleepInhibitor {
 public:
  ~ThreadExecutionState() override { SetThreadExecutionState(ES_CONTINUOUS); }
};

}  // namespace

std::unique_ptr<SleepInhibitor> HoldOffSleep(const std::string&, const std::string&,
                                             std::string* error) {
  if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
    if (error) *error = "SetThreadExecutionState failed (" + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  return std::make_unique<ThreadExecutionState>();
}

}  // namespace q9m::platform
