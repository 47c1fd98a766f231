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

std::string TooManyInstancesText() {
  return "It is forbidden to launch more than " + std::to_string(kMaxInstances) +
         " instance of this application.";
}

std::string MidiClientName(int instanceNumber) {
  return instanceNumber == 1 ? "q9m-updater" : "q9m-updater-" + std::to_string(instanceNumber);
}

}  // namespace q9m::app
