#include "platform/jack/jack_port_names.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string_view>

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

namespace {

constexpr size_t npos = std::string::npos;

constexpr char kA2jWarning[] =
    "This port runs through a2jmidid, which drops messages longer than 16 bytes on their way "
    "to the device: an update over it fails. Use the device's ALSA port instead.";
constexpr char kPipeWireWarning[] =
    "This port runs through PipeWire's MIDI bridge, which before PipeWire 1.2.0 passes on only "
    "the first 1,024 bytes of a System Exclusive message: an update over it then fails.";
constexpr char kJackSeqWarning[] =
    "This port runs through the JACK server's ALSA sequencer bridge (jackd -X seq), which "
    "passes on only the first 1,024 bytes of a System Exclusive message: an update over it "
    "fails. Use the device's ALSA port instead.";
constexpr char kAlsaRawMidiWarning[] =
    "This port runs through the JACK server's alsarawmidi bridge, which drops messages longer "
    "than 4,096 bytes: an update over it fails. Use the device's ALSA port instead.";

bool CutStart(std::string& text, std::string_view start) {
  if (!text.starts_with(start)) return false;
  text.erase(0, start.size());
  return true;
}

bool CutEnd(std::string& text, std::string_view end) {
  if (!text.ends_with(end)) return false;
  text.resize(text.size() - end.size());
  return true;
}

// Where the first of `marks` stands in `text`, and its length.
std::pair<size_t, size_t> FindFirst(const std::string& text,
                                    std::initializer_list<std::string_view> marks) {
  std::pair<size_t, size_t> first{npos, 0};
  for (std::string_view mark : marks) {
    const size_t at = text.find(mark);
    if (at < first.first) first = {at, mark.size()};
  }
  return first;
}

// snd-usb-audio names a device's ports "<device> MIDI <n>". Where a bridge's name no longer
// says where the device's name ends, it is taken from such a port name.
std::string UsbDeviceOfPort(const std::string& port) {
  const size_t at = port.rfind(" MIDI ");
  if (at == npos || at == 0 || !AllDigits(port, at + 6, port.size())) return port;
  return port.substr(0, at);
}

// a2jmidid (port.c, a2j_port_fill_name), after "a2j:":
// "<client> [<client id>] (capture): [<port id>] <port>", "(playback)" for the other direction;
// release 9 and older leave out "[<port id>] ", and with -u it is "<client> (capture): <port>".
bool ParseA2j(const std::string& name, DevicePort& port) {
  const auto [at, length] = FindFirst(name, {" (capture): ", " (playback): "});
  if (at == npos) return false;
  std::string client = name.substr(0, at);
  std::string own = name.substr(at + length);
  std::string id = client;
  const size_t open = client.rfind(" [");
  if (open != npos && client.ends_with(']') && AllDigits(client, open + 2, client.size() - 1)) {
    id = client.substr(open + 2, client.size() - open - 3);
    client.resize(open);
  }
  const size_t close = own.find("] ");
  if (own.starts_with('[') && close != npos && AllDigits(own, 1, close)) own.erase(0, close + 2);
  port.device = client;
  port.deviceId = "a2j:" + id;
  port.port = own;
  port.warning = kA2jWarning;
  return true;
}

// PipeWire's bridge (spa/plugins/alsa/alsa-seq-bridge.c, emit_port_info), after "Midi-Bridge:":
// - 0.3.25 to 1.2: "<client>:(capture_<port id>) <port>"; from 0.3.58 on, a card's client is
//   the card's long name ("<maker> <device> at usb-<path>- full speed");
// - from 1.4 on: "[<client id>:<port id>] " where enabled, then "<client><port> (capture)" with
//   the client's name taken off the front of the port's, and from 1.7 on ':' after the client.
// pipewire-jack appends "-<serial>" to a name that another port has already.
bool ParsePipeWireBridge(std::string name, DevicePort& port) {
  const auto [at, length] = FindFirst(name, {":(capture_", ":(playback_"});
  const size_t close = at == npos ? npos : name.find(") ", at);
  if (close != npos && AllDigits(name, at + length, close)) {
    const std::string client = name.substr(0, at);
    port.port = name.substr(close + 2);
    port.device = client.find(" at usb-") == npos ? client : UsbDeviceOfPort(port.port);
    port.deviceId = "pipewire:" + client;
    port.warning = kPipeWireWarning;
    return true;
  }
  const size_t serial = name.rfind(")-");
  if (serial != npos && AllDigits(name, serial + 2, name.size())) name.resize(serial + 1);
  if (!CutEnd(name, " (capture)") && !CutEnd(name, " (playback)")) return false;
  std::string id;
  const size_t end = name.find("] ");
  const size_t colon = name.find(':');
  if (name.starts_with('[') && end != npos && colon < end && AllDigits(name, 1, colon) &&
      AllDigits(name, colon + 1, end)) {
    id = name.substr(1, colon - 1);
    name.erase(0, end + 2);
  }
  const size_t separator = name.find(':');
  if (separator == npos) {
    port.device = UsbDeviceOfPort(name);
    port.port = name;
  } else {
    port.device = name.substr(0, separator);
    const size_t own = name.find_first_not_of(' ', separator + 1);
    port.port = own == npos ? std::string() : name.substr(own);
  }
  port.deviceId = "pipewire:" + (id.empty() ? port.device : id);
  port.warning = kPipeWireWarning;
  return true;
}

// jackd -X seq and -X raw (linux/alsa/alsa_seqmidi.c port_create, alsa_rawmidi.c
// midi_port_open_jack) name their ports "system:midi_capture_<n>" and "system:midi_playback_<n>".
// Both give the alias "alsa_midi:<client> <port> (out)" ("(in)" for playback; the port alone
// when its name begins with the client's); the sequencer bridge adds a second alias,
// "<client>:<port without the client's name> (capture)" or "(playback)".
bool ParseJackAlsaMidi(const std::vector<std::string>& aliases, DevicePort& port) {
  for (std::string alias : aliases) {
    if (alias.starts_with("alsa_midi:")) continue;
    const size_t colon = alias.find(':');
    if (colon == npos || !(CutEnd(alias, " (capture)") || CutEnd(alias, " (playback)"))) continue;
    port.device = alias.substr(0, colon);
    port.port = alias.substr(colon + 1);
    port.deviceId = "jack-seq:" + port.device;
    port.warning = kJackSeqWarning;
    return true;
  }
  for (std::string alias : aliases) {
    if (!CutStart(alias, "alsa_midi:") || !(CutEnd(alias, " (out)") || CutEnd(alias, " (in)"))) {
      continue;
    }
    port.device = UsbDeviceOfPort(alias);
    port.port = alias;
    port.deviceId = "jack-raw:" + port.device;
    return true;
  }
  return false;
}

// jackd -X alsarawmidi (linux/alsarawmidi/JackALSARawMidiPort.cpp) names its ports
// "system_midi:capture_<n>" and "system_midi:playback_<n>", with the alias
// "system:<card + 1>-<device + 1> <device name> <subdevice + 1> in" ("out" for playback).
bool ParseAlsaRawMidi(const std::vector<std::string>& aliases, DevicePort& port) {
  for (std::string alias : aliases) {
    if (!CutStart(alias, "system:") || !(CutEnd(alias, " in") || CutEnd(alias, " out"))) continue;
    const size_t dash = alias.find('-');
    const size_t first = alias.find(' ');
    const size_t last = alias.rfind(' ');
    if (first == npos || last <= first || dash > first || !AllDigits(alias, 0, dash) ||
        !AllDigits(alias, dash + 1, first) || !AllDigits(alias, last + 1, alias.size())) {
      continue;
    }
    port.device = alias.substr(first + 1, last - first - 1);
    port.port = alias.substr(last + 1);
    port.deviceId = "alsarawmidi:" + alias.substr(0, first);
    port.warning = kAlsaRawMidiWarning;
    return true;
  }
  return false;
}

// The number that jackd gives a port of its bridges as it finds the devices; 0 for any other.
unsigned long JackBridgeNumber(const std::string& fullName) {
  std::string name = fullName;
  if (!CutStart(name, "system:midi_capture_") && !CutStart(name, "system:midi_playback_") &&
      !CutStart(name, "system_midi:capture_") && !CutStart(name, "system_midi:playback_")) {
    return 0;
  }
  return AllDigits(name, 0, name.size()) && name.size() < 10 ? std::stoul(name) : 0;
}

DevicePort DescribeJackPort(const JackPortNames& names) {
  const std::string client = JackClientOf(names.fullName);
  const std::string name = CleanJackPortName(names.fullName);
  DevicePort bridged{names.fullName, "", "", ""};
  const bool jackBridge = JackBridgeNumber(names.fullName) != 0;
  if ((client == "a2j" && ParseA2j(name, bridged)) ||
      (client == "Midi-Bridge" && ParsePipeWireBridge(name, bridged)) ||
      (jackBridge && client == "system" && ParseJackAlsaMidi(names.aliases, bridged)) ||
      (jackBridge && client == "system_midi" && ParseAlsaRawMidi(names.aliases, bridged))) {
    return bridged;
  }
  return {names.fullName, names.fullName, name, ""};
}

}  // namespace

std::vector<DevicePort> DescribeJackPorts(std::vector<JackPortNames> ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
    return JackBridgeNumber(a.fullName) < JackBridgeNumber(b.fullName);
  });
  std::vector<DevicePort> described;
  described.reserve(ports.size());
  std::map<std::string, int> seen;
  for (const JackPortNames& names : ports) {
    DevicePort port = DescribeJackPort(names);
    // Where names carry no device number, the n-th port of a device's name and a port's name
    // belongs to the n-th of the identical devices.
    const int nth = ++seen[port.deviceId + '\n' + port.port];
    port.deviceId += '#';
    port.deviceId += std::to_string(nth);
    described.push_back(std::move(port));
  }
  return described;
}

}  // namespace q9m::platform::jack
