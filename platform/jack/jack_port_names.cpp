#include "platform/jack/jack_port_names.h"

#include "platform/port_naming.h"

namespace q9m::platform::jack {

std::string JackClientOf(const std::string& fullName) {
  const size_t colon = fullName.find(':');
  return colon == std::string::npos ? std::string() : fullName.substr(0, colon);
}

std::string CleanJackPortName(const std::string& fullName) {
  const size_t colon = fullName.find(':');
  return colon == std::string::npos ? fullName : fullName.substr(colon + 1);
}

bool IsOwnJackClient(const std::string& client, const std::string& ours) {
  if (client == ours) return true;
  if (client.size() <= ours.size() + 1 || client.compare(0, ours.size(), ours) != 0) return false;
  return client[ours.size()] == '-' && AllDigits(client, ours.size() + 1, client.size());
}

namespace {

constexpr char kA2jWarning[] =
    "This port runs through a2jmidid, which drops messages longer than 16 bytes on their way "
    "to the device: an update over it fails. Use the device's ALSA port instead.";
constexpr char kPipeWireWarning[] =
    "This port runs through PipeWire's MIDI bridge, which before PipeWire 1.2.0 cuts System "
    "Exclusive messages after about 1 KiB: an update over it then fails.";

// "<client> [<id>] (capture): <port>" as a2jmidid names its ports, after "a2j:".
bool ParseA2j(const std::string& name, DevicePort& port) {
  const size_t open = name.find(" [");
  if (open == std::string::npos) return false;
  const size_t close = name.find("] (", open);
  if (close == std::string::npos || !AllDigits(name, open + 2, close)) return false;
  const size_t colon = name.find("): ", close);
  if (colon == std::string::npos) return false;
  port.device = name.substr(0, open);
  port.deviceId = "a2j:" + name.substr(open + 2, close - open - 2);
  port.port = name.substr(colon + 3);
  port.warning = kA2jWarning;
  return true;
}

// "<client>:(capture_N) <port>" as PipeWire's bridge names its ports, after "Midi-Bridge:".
bool ParsePipeWireBridge(const std::string& name, DevicePort& port) {
  const size_t open = name.rfind(":(");
  if (open == std::string::npos) return false;
  const size_t close = name.find(") ", open);
  if (close == std::string::npos) return false;
  port.device = name.substr(0, open);
  // The names hold no client number that would tell identical devices apart.
  port.deviceId = "pipewire:" + name;
  port.port = name.substr(close + 2);
  port.warning = kPipeWireWarning;
  return true;
}

}  // namespace

DevicePort DescribeJackPort(const std::string& fullName) {
  const std::string client = JackClientOf(fullName);
  const std::string name = CleanJackPortName(fullName);
  DevicePort port{fullName, fullName, name, "", ""};
  DevicePort bridged = port;
  if ((client == "a2j" && ParseA2j(name, bridged)) ||
      (client == "Midi-Bridge" && ParsePipeWireBridge(name, bridged))) {
    return bridged;
  }
  return port;
}

}  // namespace q9m::platform::jack
