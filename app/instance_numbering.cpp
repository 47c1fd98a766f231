#include "app/instance_numbering.h"

#include "ui/instance_name.h"

namespace q9m::app {

InstanceClaim TakeInstanceNumber() {
  for (int n = 1; n <= kMaxInstances; ++n) {
    uint32_t lastError = 0;
    const platform::MutexHandle mutex = platform::CreateNamedMutex(ui::InstanceName(n), &lastError);
    if (mutex != platform::MutexHandle::kNoMutex && lastError != platform::ERROR_ALREADY_EXISTS) {
      return {mutex, n};
    }
    platform::CloseHandle(mutex);
  }
  return {};
}

}  // namespace q9m::app
