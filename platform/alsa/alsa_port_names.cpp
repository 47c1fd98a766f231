#include "platform/alsa/alsa_port_names.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/port_naming.h"

namespace q9m::platform::alsa {

namespace {

// snd-seq-midi gives each raw MIDI device 256 / SNDRV_RAWMIDI_DEVICES (8) port numbers.
constexpr int kPortsPerRawDevice = 32;
// A sequencer port's name holds 63 bytes and a terminator.
constexpr size_t kSeqPortNameBytes = 63;

// The number after "<key>:" on a line such as "  Buffer size  : 4096".
std::optional<size_t> ValueAfter(const std::string& line, const std::string& key) {
  const size_t at = line.find(key);
  if (at == std::string::npos) return std::nullopt;
  const size_t colon = line.find(':', at + key.size());
  if (colon == std::string::npos) return std::nullopt;
  size_t begin = colon + 1;
  while (begin < line.size() && line[begin] == ' ') ++begin;
  size_t end = begin;
  while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
  if (!AllDigits(line, begin, end)) return std::nullopt;
  return std::stoull(line.substr(begin, end - begin));
}

}  // namespace

std::string FormatSeqAddress(SeqAddress address) {
  return std::to_string(address.client) + ":" + std::to_string(address.port);
}

std::optional<SeqAddress> ParseSeqAddress(const std::string& id) {
  const size_t colon = id.find(':');
  if (colon == std::string::npos || !AllDigits(id, 0, colon) ||
      !AllDigits(id, colon + 1, id.size()) || colon > 4 || id.size() - colon > 5) {
    return std::nullopt;
  }
  return SeqAddress{std::stoi(id.substr(0, colon)), std::stoi(id.substr(colon + 1))};
}

std::string RawMidiName(RawMidiAddress address) {
  return "hw:" + std::to_string(address.card) + "," + std::to_string(address.device) + "," +
         std::to_string(address.subdevice);
}

std::optional<RawMidiAddress> RawMidiBehindPort(int card, int port, bool hardwarePort,
                                                const std::string& portName,
                                                const DescribeRawMidi& describe) {
  if (card < 0 || port < 0 || !hardwarePort) return std::nullopt;
  const RawMidiAddress address{card, port / kPortsPerRawDevice, port % kPortsPerRawDevice};
  const auto raw = describe(address);
  if (!raw || address.subdevice >= raw->subdevices) return std::nullopt;
  std::string name = raw->subdeviceName;
  if (name.empty()) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
    if (raw->name.empty()) {
      name = "MIDI ";
      name += std::to_string(card);
      name += '-';
      name += std::to_string(address.device);
    } else {
      name = raw->name;
    }
    if (raw->subdevices > 1) {
      name += '-';
      name += std::to_string(address.subdevice);
    }
  }
  // As the sequencer keeps it (63 bytes) and as ListSeqPorts reports it, trailing blanks cut.
  name.resize(std::min(name.size(), kSeqPortNameBytes));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name != portName) return std::nullopt;
  return address;
}

std::optional<RawMidiAddress> VirMidiDeviceOfClient(const std::string& clientName) {
  int card = -1;
  int device = -1;
  int consumed = 0;
  if (std::sscanf(clientName.c_str(), "Virtual Raw MIDI %d-%d%n", &card, &device, &consumed) != 2 ||
      static_cast<size_t>(consumed) != clientName.size() || card < 0 || device < 0) {
    return std::nullopt;
  }
  return RawMidiAddress{card, device, -1};
}

std::optional<BufferFill> ReadBufferFill(const std::string& procText, bool output, int subdevice) {
  const std::string heading = output ? "Output " : "Input ";
  std::istringstream lines(procText);
  std::string line;
  bool inSection = false;
  size_t size = 0;  // none read yet in this section
  std::optional<BufferFill> fullest;
  auto take = [&](size_t avail) {
    if (size == 0 || avail > size) return;
    const size_t waiting = output ? size - avail : avail;
    if (!fullest || waiting > fullest->waiting) fullest = BufferFill{size, waiting};
  };
  while (std::getline(lines, line)) {
    if (line.rfind("Output ", 0) == 0 || line.rfind("Input ", 0) == 0) {
      inSection = line.rfind(heading, 0) == 0 &&
                  (subdevice < 0 || line == heading + std::to_string(subdevice));
      size = 0;
      continue;
    }
    if (!inSection) continue;
    if (auto value = ValueAfter(line, "Buffer size")) size = *value;
    if (auto value = ValueAfter(line, "Avail")) take(*value);
  }
  return fullest;
}

}  // namespace q9m::platform::alsa
