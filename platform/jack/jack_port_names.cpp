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

}  // namespace q9m::platform::jack
