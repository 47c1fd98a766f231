#include "platform/port_list.h"

#include <algorithm>

#include "platform/open_refusal.h"

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
  error = MMSYSERR_BADDEVICEID;
  auto connection = port ? OpenOutputPort(*port, error) : nullptr;
  NoteOpenResult(PortDirection::Output, connection ? MMSYSERR_NOERROR : error);
  return connection;
}

std::unique_ptr<InputSource> ListedPortBackend::OpenInput(uint32_t index, InputReceiver& receiver,
                                                          MMRESULT& error) {
  const auto port = inputs_.At(index);
  error = MMSYSERR_BADDEVICEID;
  auto source = port ? OpenInputPort(*port, receiver, error) : nullptr;
  NoteOpenResult(PortDirection::Input, source ? MMSYSERR_NOERROR : error);
  return source;
}

}  // namespace q9m::platform
