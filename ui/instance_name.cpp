#include "ui/instance_name.h"

namespace q9m::ui {

std::string InstanceName(int instanceNumber) {
  if (instanceNumber == 1) return kProgramTitle;
  return std::string(kProgramTitle) + " (" + std::to_string(instanceNumber) + ")";
}

}  // namespace q9m::ui
