// Port names as the RtMidi backend lists them: the name a device gives itself, with the
// decorations of the MIDI system taken off, and the order in which ports are listed.
//
// Kept free of RtMidi and libjack so that the rules can be checked without a MIDI system.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace q9m::platform::rtmidi {

// JACK names a port "client:port". The client name holds no ':', so the first ':' ends it.
inline std::string JackClientOf(const std::string& fullName) {
  const size_t colon = fullName.find(':');
  return colon == std::string::npos ? std::string() : fullName.substr(0, colon);
}

// The port's own name, without the "client:" prefix.
inline std::string CleanJackPortName(const std::string& fullName) {
  const size_t colon = fullName.find(':');
  return colon == std::string::npos ? fullName : fullName.substr(colon + 1);
}

namespace detail {
inline bool AllDigits(const std::string& text, size_t begin, size_t end) {
  if (begin >= end) return false;
  for (size_t i = begin; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}
}  // namespace detail

// RtMidi names an ALSA port "client name:port name C:P", C and P being the numeric client and
// port ids. The ids change with every plug-in, so the listed name is "client name:port name".
inline std::string CleanAlsaPortName(const std::string& rtmidiName) {
  const size_t space = rtmidiName.rfind(' ');
  if (space == std::string::npos) return rtmidiName;
  const size_t colon = rtmidiName.find(':', space);
  if (colon == std::string::npos || !detail::AllDigits(rtmidiName, space + 1, colon) ||
      !detail::AllDigits(rtmidiName, colon + 1, rtmidiName.size())) {
    return rtmidiName;
  }
  return rtmidiName.substr(0, space);
}

// True when `client` is a client that this program opened under the name `ours`: the name
// itself, or the name with the "-NN" that a JACK server appends to make a taken name unique.
inline bool IsOwnJackClient(const std::string& client, const std::string& ours) {
  if (client == ours) return true;
  if (client.size() <= ours.size() + 1 || client.compare(0, ours.size(), ours) != 0) return false;
  return client[ours.size()] == '-' && detail::AllDigits(client, ours.size() + 1, client.size());
}

// An ALSA client's ports appear as "client name:...". The client name alone cannot be split
// off a name that holds ':' in the port part, so the test is on the prefix.
inline bool IsOwnAlsaPort(const std::string& rtmidiName, const std::string& ours) {
  return rtmidiName.size() > ours.size() && rtmidiName.compare(0, ours.size(), ours) == 0 &&
         rtmidiName[ours.size()] == ':';
}

// One listed port: `id` names it uniquely for the MIDI system (JACK's full name, or RtMidi's
// ALSA name with the numeric ids), `name` is what the list shows.
struct ListedPort {
  std::string id;
  std::string name;
  bool operator==(const ListedPort&) const = default;
};

// The ports in the order they are listed. A port keeps its place while it stays present, ports
// that appear are added at the end, ports that go away leave the list. So an index read in one
// enumeration names the same port in the next one unless a port before it went away.
class StablePortList {
 public:
  // `present` is every port the system has now, in the system's own order.
  void Update(const std::vector<ListedPort>& present) {
    std::vector<ListedPort> next;
    next.reserve(present.size());
    for (const ListedPort& known : ports_) {
      auto it = std::find_if(present.begin(), present.end(),
                             [&](const ListedPort& p) { return p.id == known.id; });
      if (it != present.end()) next.push_back(*it);
    }
    for (const ListedPort& port : present) {
      auto it = std::find_if(next.begin(), next.end(),
                             [&](const ListedPort& p) { return p.id == port.id; });
      if (it == next.end()) next.push_back(port);
    }
    ports_ = std::move(next);
  }

  size_t size() const { return ports_.size(); }
  const ListedPort* At(size_t index) const {
    return index < ports_.size() ? &ports_[index] : nullptr;
  }

 private:
  std::vector<ListedPort> ports_;
};

}  // namespace q9m::platform::rtmidi
