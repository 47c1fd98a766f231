#include "platform/midi_service.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/midi_input_stream.h"
#include "platform/sync.h"
#include "platform/timer_service.h"

namespace q9m::platform {

namespace {

// An open output port: one message at a time leaves it, so that two threads sending at once
// each get their message out whole.
struct OpenOutputPort {
  std::unique_ptr<OutputConnection> connection;
  std::mutex sendMutex;
};

// The identity of each port as it was listed, by index: what an open of that index expects.
using ListedIdentities = std::map<uint32_t, std::optional<std::string>>;

struct Service {
  std::mutex mutex;
  std::shared_ptr<MidiBackend> backend;
  uintptr_t lastHandle = 0;
  std::map<uintptr_t, std::shared_ptr<OpenOutputPort>> outputs;
  std::map<uintptr_t, std::shared_ptr<MidiInputStream>> inputs;
  ListedIdentities listedOutputs;
  ListedIdentities listedInputs;
};

Service& TheService() {
  static Service service;
  return service;
}

std::shared_ptr<MidiBackend> CurrentBackend() {
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  return s.backend;
}

std::shared_ptr<OpenOutputPort> FindOutput(HMIDIOUT handle) {
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  auto it = s.outputs.find(static_cast<uintptr_t>(handle));
  return it == s.outputs.end() ? nullptr : it->second;
}

std::shared_ptr<MidiInputStream> FindInput(HMIDIIN handle) {
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  auto it = s.inputs.find(static_cast<uintptr_t>(handle));
  return it == s.inputs.end() ? nullptr : it->second;
}

template <typename Caps>
MMRESULT FillCaps(const std::optional<std::string>& name, Caps* caps, uint32_t capsSize) {
  if (caps == nullptr || capsSize < sizeof(Caps)) return MMSYSERR_INVALPARAM;
  if (!name) return MMSYSERR_BADDEVICEID;
  *caps = Caps{};
  const std::string fitted = FitPortName(*name);
  std::memcpy(caps->szPname, fitted.data(), fitted.size());
  return MMSYSERR_NOERROR;
}

void NoteListed(ListedIdentities Service::*listed, uint32_t index,
                std::optional<std::string> identity) {
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  (s.*listed)[index] = std::move(identity);
}

// Whether `index` may be opened: it names the port that was listed there, which must still
// be present with the same identity. The list is not read again for that, so an index keeps
// naming the port that the caller saw. An index never listed names the port there now.
template <typename Count, typename Identify>
bool MayOpen(ListedIdentities Service::*listed, uint32_t index, Count count, Identify identify) {
  std::optional<std::optional<std::string>> expected;
  {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    const auto it = (s.*listed).find(index);
    if (it != (s.*listed).end()) expected = it->second;
  }
  if (!expected) return index < count();
  return expected->has_value() && *expected == identify(index);
}

bool ValidHeader(const MIDIHDR* header, uint32_t headerSize) {
  return header != nullptr && headerSize >= sizeof(MIDIHDR) && header->lpData != nullptr;
}

}  // namespace

void StartMidiService(std::shared_ptr<MidiBackend> backend) {
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  s.backend = std::move(backend);
  s.listedOutputs.clear();
  s.listedInputs.clear();
}

void StopMidiService() {
  std::map<uintptr_t, std::shared_ptr<OpenOutputPort>> outputs;
  std::map<uintptr_t, std::shared_ptr<MidiInputStream>> inputs;
  {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    outputs.swap(s.outputs);
    inputs.swap(s.inputs);
    s.backend.reset();
  }
  for (auto& [id, port] : outputs) {
    std::lock_guard sending(port->sendMutex);
    port->connection->Close();
    timeMidiPortClosed();
  }
  for (auto& [id, stream] : inputs) {
    stream->Reset();
    stream->Close();
    timeMidiPortClosed();
  }
}

std::unique_ptr<PortWatch> WatchMidiPorts() {
  // Nothing to follow: no port comes before the deadline.
  class NoPorts final : public PortWatch {
   public:
    bool Wait(PortWatchClock::time_point deadline) override {
      std::this_thread::sleep_until(deadline);
      return false;
    }
  };
  auto backend = CurrentBackend();
  if (!backend) return std::make_unique<NoPorts>();
  return backend->WatchPorts();
}

void MarkDone(MIDIHDR* header) {
  std::atomic_ref<uint32_t> flags(header->dwFlags);
  uint32_t old = flags.load(std::memory_order_relaxed);
  while (!flags.compare_exchange_weak(old, (old & ~MHDR_INQUEUE) | MHDR_DONE,
                                      std::memory_order_release, std::memory_order_relaxed)) {
  }
  // The sender may return, and its header go, as soon as the flag is set; a wake that finds
  // the address reused wakes at most a waiter that looks at its own flags again.
  WakeWordWaiters(&header->dwFlags);
}

uint32_t LoadFlags(const MIDIHDR* header) {
  return std::atomic_ref<uint32_t>(const_cast<MIDIHDR*>(header)->dwFlags)
      .load(std::memory_order_acquire);
}

void WaitForFlagChange(const MIDIHDR* header, uint32_t seen, uint32_t milliseconds) {
  SleepWhileWordIs(&header->dwFlags, seen, milliseconds);
}

std::string MidiOutPortWarning(uint32_t deviceId) {
  auto backend = CurrentBackend();
  return backend ? backend->OutputWarning(deviceId) : std::string();
}

std::string MidiInPortWarning(uint32_t deviceId) {
  auto backend = CurrentBackend();
  return backend ? backend->InputWarning(deviceId) : std::string();
}

std::string FitPortName(const std::string& name) {
  return name.substr(0,
                     Utf8CutLength(name.data(), name.size(), kPortNameMaxChars, MAXPNAMELEN - 1));
}

// ---- Output ------------------------------------------------------------------------------

uint32_t midiOutGetNumDevs() {
  auto backend = CurrentBackend();
  return backend ? backend->OutputCount() : 0;
}

MMRESULT midiOutGetDevCapsA(uintptr_t deviceId, MIDIOUTCAPSA* caps, uint32_t capsSize) {
  auto backend = CurrentBackend();
  if (!backend) return MMSYSERR_NODRIVER;
  std::optional<std::string> name;
  if (deviceId < backend->OutputCount()) {
    const auto index = static_cast<uint32_t>(deviceId);
    name = backend->OutputName(index);
    NoteListed(&Service::listedOutputs, index, backend->OutputIdentity(index));
  }
  return FillCaps(name, caps, capsSize);
}

MMRESULT midiOutOpen(HMIDIOUT* handle, uint32_t deviceId, uintptr_t /*callback*/,
                     uintptr_t /*instance*/, uint32_t flags) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  *handle = HMIDIOUT{};
  if (flags != CALLBACK_NULL) return MMSYSERR_INVALFLAG;  // completion callbacks are not offered
  auto backend = CurrentBackend();
  if (!backend) return MMSYSERR_NODRIVER;
  if (!MayOpen(
          &Service::listedOutputs, deviceId, [&] { return backend->OutputCount(); },
          [&](uint32_t i) { return backend->OutputIdentity(i); })) {
    return MMSYSERR_BADDEVICEID;
  }
  MMRESULT error = MMSYSERR_ERROR;
  auto connection = backend->OpenOutput(deviceId, error);
  if (!connection) return error != MMSYSERR_NOERROR ? error : MMSYSERR_ERROR;
  auto port = std::make_shared<OpenOutputPort>();
  port->connection = std::move(connection);
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  const uintptr_t id = ++s.lastHandle;
  s.outputs.emplace(id, std::move(port));
  *handle = static_cast<HMIDIOUT>(id);
  timeMidiPortOpened();  // the dispatcher's timer ticks while a port is open
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutClose(HMIDIOUT handle) {
  std::shared_ptr<OpenOutputPort> port;
  {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    auto it = s.outputs.find(static_cast<uintptr_t>(handle));
    if (it == s.outputs.end()) return MMSYSERR_INVALHANDLE;
    port = std::move(it->second);
    s.outputs.erase(it);
  }
  // Waits for a send that is taking place on another thread; a message whose done flag is
  // still pending is completed by the connection's Close.
  std::lock_guard sending(port->sendMutex);
  port->connection->Close();
  timeMidiPortClosed();
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, uint32_t headerSize) {
  auto port = FindOutput(handle);
  if (!port) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize)) return MMSYSERR_INVALPARAM;
  if (MMRESULT refused = port->connection->Check(OutputOp::Prepare)) return refused;
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, uint32_t headerSize) {
  auto port = FindOutput(handle);
  if (!port) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize)) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
  if ((LoadFlags(header) & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
  std::lock_guard sending(port->sendMutex);
  if (MMRESULT refused = port->connection->Check(OutputOp::LongMsg)) return refused;
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  MMRESULT result = port->connection->SendLong(header);
  if (result != MMSYSERR_NOERROR) header->dwFlags &= ~(MHDR_INQUEUE | MHDR_DONE);
  return result;
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, uint32_t headerSize) {
  auto port = FindOutput(handle);
  if (!port) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize)) return MMSYSERR_INVALPARAM;
  if ((LoadFlags(header) & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutShortMsg(HMIDIOUT handle, uint32_t message) {
  auto port = FindOutput(handle);
  if (!port) return MMSYSERR_INVALHANDLE;
  std::lock_guard sending(port->sendMutex);
  if (MMRESULT refused = port->connection->Check(OutputOp::ShortMsg)) return refused;
  return port->connection->SendShort(message);
}

// ---- Input -------------------------------------------------------------------------------

uint32_t midiInGetNumDevs() {
  auto backend = CurrentBackend();
  return backend ? backend->InputCount() : 0;
}

MMRESULT midiInGetDevCapsA(uintptr_t deviceId, MIDIINCAPSA* caps, uint32_t capsSize) {
  auto backend = CurrentBackend();
  if (!backend) return MMSYSERR_NODRIVER;
  std::optional<std::string> name;
  if (deviceId < backend->InputCount()) {
    const auto index = static_cast<uint32_t>(deviceId);
    name = backend->InputName(index);
    NoteListed(&Service::listedInputs, index, backend->InputIdentity(index));
  }
  return FillCaps(name, caps, capsSize);
}

MMRESULT midiInOpen(HMIDIIN* handle, uint32_t deviceId, uintptr_t callback, uintptr_t instance,
                    uint32_t flags) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  *handle = HMIDIIN{};
  if (flags != CALLBACK_FUNCTION && flags != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
  auto backend = CurrentBackend();
  if (!backend) return MMSYSERR_NODRIVER;
  if (!MayOpen(
          &Service::listedInputs, deviceId, [&] { return backend->InputCount(); },
          [&](uint32_t i) { return backend->InputIdentity(i); })) {
    return MMSYSERR_BADDEVICEID;
  }
  uintptr_t id;
  {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    id = ++s.lastHandle;
  }
  auto proc = flags == CALLBACK_FUNCTION ? reinterpret_cast<MidiInProc>(callback) : nullptr;
  auto stream = std::make_shared<MidiInputStream>(static_cast<HMIDIIN>(id), proc, instance);
  MMRESULT error = MMSYSERR_ERROR;
  auto source = backend->OpenInput(deviceId, *stream, error);
  if (!source) return error != MMSYSERR_NOERROR ? error : MMSYSERR_ERROR;
  stream->AttachSource(std::move(source));
  {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    s.inputs.emplace(id, stream);
  }
  *handle = static_cast<HMIDIIN>(id);
  timeMidiPortOpened();
  if (proc != nullptr) proc(*handle, MIM_OPEN, instance, 0, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT midiInClose(HMIDIIN handle) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (MMRESULT refused = stream->Source().Check(InputOp::Close)) return refused;
  if (MMRESULT result = stream->Close()) return result;
  Service& s = TheService();
  std::lock_guard lock(s.mutex);
  if (s.inputs.erase(static_cast<uintptr_t>(handle)) != 0) timeMidiPortClosed();
  return MMSYSERR_NOERROR;
}

MMRESULT midiInReset(HMIDIIN handle) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (MMRESULT refused = stream->Source().Check(InputOp::Reset)) return refused;
  stream->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, uint32_t headerSize) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize)) return MMSYSERR_INVALPARAM;
  if (MMRESULT refused = stream->Source().Check(InputOp::Prepare)) return refused;
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, uint32_t headerSize) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize)) return MMSYSERR_INVALPARAM;
  if (MMRESULT refused = stream->Source().Check(InputOp::Unprepare)) return refused;
  if (stream->Holds(header)) return MIDIERR_STILLPLAYING;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, uint32_t headerSize) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize) || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
  if (MMRESULT refused = stream->Source().Check(InputOp::AddBuffer)) return refused;
  return stream->AddBuffer(header);
}

MMRESULT midiInStart(HMIDIIN handle) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (MMRESULT refused = stream->Source().Check(InputOp::Start)) return refused;
  stream->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT midiInStop(HMIDIIN handle) {
  auto stream = FindInput(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (MMRESULT refused = stream->Source().Check(InputOp::Stop)) return refused;
  stream->Stop();
  return MMSYSERR_NOERROR;
}

}  // namespace q9m::platform
