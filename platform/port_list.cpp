#include "platform/port_list.h"

#include <algorithm>

namespace q9m::platform {

void StablePortList::Update(const std::vector<ListedPort>& present) {
  std::vector<ListedPort> next;
  next.reserve(present.size());
  for (const ListedPort& known : ports_) {
    auto it = std::find_if(present.begin(), present.end(),
                           [&](const ListedPort& p) { return p.SamePort(known); });
    if (it != present.end()) next.push_back(*it);
  }
  for (const ListedPort& port : present) {
    auto it = std::find_if(next.begin(), next.end(),
                           [&](const ListedPort& p) { return p.SamePort(port); });
    if (it == next.end()) next.push_back(port);
  }
  ports_ = std::move(next);
}

std::unique_ptr<OutputConnection> ListedPortBackend::OpenOutput(uint32_t index, MMRESULT& error) {
  const auto port = outputs_.At(index);
  if (!port) {
    error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  return OpenOutputPort(*port, error);
}

std::unique_ptr<InputSource> ListedPortBackend::OpenInput(uint32_t index, InputReceiver& receiver,
                                                          MMRESULT& error) {
  const auto port = inputs_.At(index);
  if (!port) {
    error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  return OpenInputPort(*port, receiver, error);
}

}  // namespace q9m::platform
