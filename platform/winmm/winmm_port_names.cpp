#include "platform/winmm/winmm_port_names.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/port_naming.h"
#include "platform/utf8_cut.h"

namespace q9m::platform::winmm {

namespace {

// The number of a "N- NAME" from Windows (0 for any other name), and where NAME starts.
int SystemNumber(const std::string& name, size_t* nameStart) {
  const size_t dash = name.find("- ");
  if (dash == std::string::npos || dash > 3 || !AllDigits(name, 0, dash) || name[0] == '0') {
    return 0;
  }
  *nameStart = dash + 2;
  const int number = std::stoi(name.substr(0, dash));
  return number >= 2 && *nameStart < name.size() ? number : 0;
}

// `base` with " (number)" from 2 on, cut so that the whole fits a capability record.
std::string Numbered(const std::string& base, int number) {
  const std::string suffix = number >= 2 ? " (" + std::to_string(number) + ")" : "";
  const size_t maxChars = kPortNameMaxChars - suffix.size();
  return base.substr(0, Utf8CutLength(base.data(), base.size(), maxChars, maxChars * 4)) + suffix;
}

}  // namespace

std::string ListedWinmmName(const std::string& systemName) {
  size_t start = 0;
  const int number = SystemNumber(systemName, &start);
  return number == 0 ? systemName : Numbered(systemName.substr(start), number);
}

std::vector<WinmmPort> NameWinmmPorts(const std::vector<std::optional<PortCaps>>& ports) {
  std::map<std::string, int> seen;
  std::set<std::string> taken;
  std::vector<WinmmPort> listed;
  for (uint32_t id = 0; id < ports.size(); ++id) {
    const std::optional<PortCaps>& port = ports[id];
    if (!port) continue;
    const std::string key =
        port->interfacePath.empty() ? "name:" + port->name : "path:" + port->interfacePath;
    // A name that is taken already (identical devices that Windows did not number) gets the
    // next free number.
    size_t start = 0;
    int number = SystemNumber(port->name, &start);
    const std::string base = number == 0 ? port->name : port->name.substr(start);
    number = std::max(number, 1);
    while (taken.count(Numbered(base, number)) != 0) number = std::max(number + 1, 2);
    const std::string name = Numbered(base, number);
    taken.insert(name);
    listed.push_back({{key + "#" + std::to_string(seen[key]++), name}, id});
  }
  return listed;
}

}  // namespace q9m::platform::winmm
