#include "platform/port_naming.h"

#include <cctype>
#include <map>

#include "platform/midi_types.h"
#include "platform/utf8_cut.h"

namespace q9m::platform {

namespace {

// The start of `name` that leaves room for `reserve` more characters in a capability record.
std::string CutForRecord(const std::string& name, size_t reserve) {
  const size_t maxChars = kPortNameMaxChars - reserve;
  return name.substr(0, Utf8CutLength(name.data(), name.size(), maxChars, maxChars * 4));
}

// `name` without its trailing "-<digits>" groups.
std::string WithoutNumbers(std::string name) {
  for (size_t dash;
       (dash = name.rfind('-')) != std::string::npos && AllDigits(name, dash + 1, name.size());) {
    name.erase(dash);
  }
  return name;
}

}  // namespace

bool IsProgramClient(const std::string& client, const std::string& ours) {
  const std::string base = WithoutNumbers(ours);
  return !base.empty() && WithoutNumbers(client) == base;
}

std::vector<ListedPort> NameDevicePorts(const std::vector<DevicePort>& ports) {
  std::map<std::string, int> portsOfDevice;
  for (const DevicePort& p : ports) ++portsOfDevice[p.deviceId];
  std::vector<std::string> names;
  names.reserve(ports.size());
  for (const DevicePort& p : ports) {
    if (portsOfDevice[p.deviceId] == 1 || p.port.empty()) {
      names.push_back(p.device.empty() ? p.port : p.device);
    } else if (p.port.compare(0, p.device.size(), p.device) == 0) {
      // "USB Audio Device MIDI 2" already says which device it belongs to.
      names.push_back(p.port);
    } else {
      names.push_back(p.device + " " + p.port);
    }
  }
  names = NumberIdenticalNames(names);
  std::vector<ListedPort> listed;
  listed.reserve(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    listed.push_back({ports[i].id, names[i], ports[i].warning, ports[i].identity});
  }
  return listed;
}

std::vector<std::string> NumberIdenticalNames(const std::vector<std::string>& names) {
  std::map<std::string, int> seen;
  std::vector<std::string> numbered;
  numbered.reserve(names.size());
  for (const std::string& name : names) {
    const std::string whole = CutForRecord(name, 0);
    const int n = ++seen[whole];
    if (n == 1) {
      numbered.push_back(whole);
      continue;
    }
    const std::string suffix = " (" + std::to_string(n) + ")";
    numbered.push_back(CutForRecord(name, suffix.size()) + suffix);
  }
  return numbered;
}

bool AllDigits(const std::string& text, size_t begin, size_t end) {
  if (begin >= end) return false;
  for (size_t i = begin; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace q9m::platform
