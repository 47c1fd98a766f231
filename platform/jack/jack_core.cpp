#include "platform/jack/jack_core.h"

#include <unistd.h>

#include <algorithm>

#include "platform/jack/jack_port_names.h"

namespace q9m::platform::jack {

std::string JackCore::NewPortName(const char* kind) {
  return std::string(kind) + "-" + std::to_string(getpid()) + "-" + std::to_string(++lastPort);
}

bool JackCore::IsOwnClient(const std::string& client) {
  if (IsOwnJackClient(client, clientName)) return true;
  std::lock_guard lock(mutex);
  return ownClients.count(client) != 0;
}

std::optional<std::string> JackCore::Adopt(const std::string& shortName) {
  auto port = monitor->FindPortByShortName(shortName);
  if (!port) return std::nullopt;
  std::lock_guard lock(mutex);
  ownClients.insert(JackClientOf(*port));
  return port;
}

void JackCore::Release(const std::string& port) {
  std::lock_guard lock(mutex);
  auto it = ownClients.find(JackClientOf(port));
  if (it != ownClients.end()) ownClients.erase(it);
}

bool JackCore::AwaitConnection() const {
  return monitor->WaitForCycle(monitor->Cycles() + kCyclesUntilDelivered, kSendTimeout);
}

MMRESULT JackCore::RegisterAndConnect(RtMidi& midi, bool output, RtMidiErrorSink& errors,
                                      const std::string& peer, std::string* own) {
  try {
    const std::string shortName = NewPortName(output ? "out" : "in");
    midi.openVirtualPort(shortName);
    if (errors.Take()) return MMSYSERR_ERROR;
    auto port = Adopt(shortName);
    if (!port) return MMSYSERR_ERROR;
    *own = *port;
  } catch (const RtMidiError&) {
    return MMSYSERR_ERROR;
  }
  const bool connected =
      output ? monitor->Connect(*own, peer, nullptr) : monitor->Connect(peer, *own, nullptr);
  if (!connected) return monitor->PortExists(peer) ? MMSYSERR_ERROR : MMSYSERR_BADDEVICEID;
  return AwaitConnection() ? MMSYSERR_NOERROR : MIDIERR_NOTREADY;
}

size_t JackCore::MaxMessageBytes() const {
  const size_t buffer = monitor->MidiBufferSize();
  const size_t eventLimit = buffer > kMidiBufferHeaderBytes + kMidiEventRecordBytes
                                ? buffer - kMidiBufferHeaderBytes - kMidiEventRecordBytes
                                : 0;
  return std::min(kRingUsableBytes - kRingRecordBytes, eventLimit);
}

}  // namespace q9m::platform::jack
