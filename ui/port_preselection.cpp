#include "ui/port_preselection.h"

namespace q9m::ui {

std::array<std::string, 3> PortNameCandidates(int instanceNumber) {
  std::array<std::string, 3> candidates;
  for (size_t i = 0; i < candidates.size(); ++i) {
    candidates[i] = PreferredPortNames[i];
    if (instanceNumber != 1) candidates[i] += " (" + std::to_string(instanceNumber) + ")";
  }
  return candidates;
}

int PreselectPort(const std::vector<std::string>& names, int instanceNumber) {
  const auto candidates = PortNameCandidates(instanceNumber);
  int selected = -1;
  for (size_t k = 0; k < names.size(); ++k) {
    for (const std::string& candidate : candidates) {
      if (names[k] == candidate) {
        selected = static_cast<int>(k);
        break;
      }
    }
  }
  return selected;
}

}  // namespace q9m::ui
