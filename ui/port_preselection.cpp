#include "ui/port_preselection.h"

#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "platform/midi_service.h"

namespace q9m::ui {

namespace {

template <typename Port>
std::vector<std::string> PortNames() {
  std::vector<std::string> names;
  const uint32_t count = Port::GetDeviceCount();
  for (uint32_t i = 0; i < count; ++i) {
    char name[midi::kPortNameBufferSize];
    Port::GetDeviceName(i, name);
    names.emplace_back(name);
  }
  return names;
}

}  // namespace

std::vector<std::string> MidiOutNames() {
  return PortNames<midi::MidiOutPort>();
}

std::vector<std::string> MidiInNames() {
  return PortNames<midi::MidiInPort>();
}

int FindPort(const std::vector<std::string>& names, const std::string& wanted) {
  int found = -1;
  for (size_t k = 0; k < names.size(); ++k) {
    if (names[k] == wanted) found = static_cast<int>(k);
  }
  return found;
}

std::optional<int> FollowedSelection(const std::vector<std::string>& shown, int selected,
                                     const std::vector<std::string>& now, int instanceNumber) {
  if (now == shown) return std::nullopt;
  const bool had = selected >= 0 && static_cast<size_t>(selected) < shown.size();
  const int kept = had ? FindPort(now, shown[static_cast<size_t>(selected)]) : -1;
  return kept != -1 ? kept : PreselectPort(now, instanceNumber);
}

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

std::string PortRouteWarning(int outIndex, int inIndex) {
  std::string out = outIndex >= 0 ? platform::MidiOutPortWarning(outIndex) : std::string();
  std::string in = inIndex >= 0 ? platform::MidiInPortWarning(inIndex) : std::string();
  if (in == out) in.clear();  // the same bridge both ways: said once
  if (!out.empty() && !in.empty()) return "MIDI OUT: " + out + "\nMIDI IN: " + in;
  return out.empty() ? in : out;
}

}  // namespace q9m::ui
