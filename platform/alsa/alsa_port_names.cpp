#include "platform/alsa/alsa_port_names.h"

#include "platform/port_naming.h"

namespace q9m::platform::alsa {

std::string CleanAlsaPortName(const std::string& rtmidiName) {
  const size_t space = rtmidiName.rfind(' ');
  if (space == std::string::npos) return rtmidiName;
  const size_t colon = rtmidiName.find(':', space);
  if (colon == std::string::npos || !AllDigits(rtmidiName, space + 1, colon) ||
      !AllDigits(rtmidiName, colon + 1, rtmidiName.size())) {
    return rtmidiName;
  }
  return rtmidiName.substr(0, space);
}

bool IsOwnAlsaPort(const std::string& rtmidiName, const std::string& ours) {
  return rtmidiName.size() > ours.size() && rtmidiName.compare(0, ours.size(), ours) == 0 &&
         rtmidiName[ours.size()] == ':';
}

}  // namespace q9m::platform::alsa
