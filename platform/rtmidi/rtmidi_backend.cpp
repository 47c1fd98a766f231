#include "platform/rtmidi/rtmidi_backend.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/rtmidi/jack_monitor.h"
#include "platform/rtmidi/port_names.h"
#include "platform/utf8_cut.h"

namespace q9m::platform {

namespace {

using rtmidi::JackMonitor;
using rtmidi::ListedPort;
using rtmidi::StablePortList;

// How long a send may wait for room in RtMidi's ring, or for its message to leave.
constexpr std::chrono::milliseconds kSendTimeout{1000};

// RtMidi's JACK output ring: 16,384 bytes of which one stays free, and a 4-byte length before
// each message. The process callback empties the whole ring into the port buffer each cycle.
constexpr size_t kRingUsableBytes = 16384 - 1;
constexpr size_t kRingRecordBytes = 4;
// A JACK MIDI buffer keeps a header and a record per event besides the event bytes; these
// allowances are larger than what a jackd2 server uses (48 bytes for one event in a buffer).
constexpr size_t kMidiBufferHeaderBytes = 64;
constexpr size_t kMidiEventRecordBytes = 16;

// A message written into RtMidi's ring while the monitor's count is c is taken by RtMidi's
// process callback in cycle c+1 or c+2 at the latest: the client that takes it can run in
// parallel with the monitor, so cycle c+1 may have started before the write, but cycle c+2
// starts only once c+1 has finished, which was after the write. The destination, which JACK
// runs after its source, has it by the end of cycle c+2, so before the monitor counts c+3.
constexpr uint64_t kCyclesUntilDelivered = 3;

// With a callback RtMidi queues nothing; the limit only matters if a message ever arrives
// before the callback is set.
constexpr unsigned int kInputQueueLimit = 4096;
// ALSA hands received System Exclusive over in pieces of this size; RtMidi joins them.
constexpr unsigned int kAlsaInputChunkBytes = 8192;
constexpr unsigned int kAlsaInputChunkCount = 8;

// JACK client names are at most 64 bytes with the terminator, and the server may append "-NN"
// to make a taken name unique.
constexpr size_t kMaxClientNameBytes = 56;

size_t ShortMessageLength(uint8_t status) {
  if (status >= 0xF8 || status == 0xF6) return 1;
  if ((status & 0xE0) == 0xC0 || status == 0xF1 || status == 0xF3) return 2;
  return 3;
}

// Errors that RtMidi reports on one of its objects. With the callback set, RtMidi reports
// instead of throwing, and a failed ALSA send becomes visible instead of a printed warning.
class ErrorSink {
 public:
  static void OnError(RtMidiError::Type type, const std::string& text, void* self) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    auto* sink = static_cast<ErrorSink*>(self);
    std::lock_guard lock(sink->mutex_);
    sink->failed_ = true;
    sink->text_ = text;
  }

  // True, with the text, when an error was reported since the last call.
  bool Take(std::string* text = nullptr) {
    std::lock_guard lock(mutex_);
    const bool failed = failed_;
    if (failed && text) *text = text_;
    failed_ = false;
    return failed;
  }

 private:
  std::mutex mutex_;
  bool failed_ = false;
  std::string text_;
};

// Hands what RtMidi receives to the receiver on a thread of its own, so that the receiver's work
// (the port owner's callbacks) never runs in JACK's real-time thread or ALSA's input thread and
// cannot make RtMidi miss input.
class InputPump {
 public:
  explicit InputPump(InputReceiver& receiver) : receiver_(receiver), thread_([this] { Run(); }) {}
  ~InputPump() { Stop(); }

  static void OnMessage(double /*timeStamp*/, std::vector<unsigned char>* message, void* self) {
    if (message == nullptr || message->empty()) return;
    auto* pump = static_cast<InputPump*>(self);
    {
      std::lock_guard lock(pump->mutex_);
      if (pump->stopping_) return;
      pump->queue_.emplace_back(message->begin(), message->end());
    }
    pump->changed_.notify_one();
  }

  // Waits for a delivery in progress; afterwards the receiver is not called any more.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      queue_.clear();
    }
    changed_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      std::vector<uint8_t> message = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      receiver_.Receive(message.data(), message.size());
      lock.lock();
    }
  }

  InputReceiver& receiver_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> queue_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the members it uses exist
};

// ---- JACK --------------------------------------------------------------------------------

// What the JACK backend and its open ports share: the monitor, and the clients that are ours.
struct JackCore {
  std::string clientName;
  std::unique_ptr<JackMonitor> monitor;
  std::mutex mutex;
  std::multiset<std::string> ownClients;
  std::atomic<uint64_t> lastPort{0};

  // A port name that no other program uses, so that the port can be found after RtMidi, which
  // does not say what its client is called, has registered it.
  std::string NewPortName(const char* kind) {
    return std::string(kind) + "-" + std::to_string(getpid()) + "-" + std::to_string(++lastPort);
  }

  bool IsOwnClient(const std::string& client) {
    if (rtmidi::IsOwnJackClient(client, clientName)) return true;
    std::lock_guard lock(mutex);
    return ownClients.count(client) != 0;
  }

  // Finds the port that RtMidi registered as `shortName` and remembers its client as ours.
  std::optional<std::string> Adopt(const std::string& shortName) {
    auto port = monitor->FindPortByShortName(shortName);
    if (!port) return std::nullopt;
    std::lock_guard lock(mutex);
    ownClients.insert(rtmidi::JackClientOf(*port));
    return port;
  }

  void Release(const std::string& port) {
    std::lock_guard lock(mutex);
    auto it = ownClients.find(rtmidi::JackClientOf(port));
    if (it != ownClients.end()) ownClients.erase(it);
  }

  // The server writes a new connection into the graph that a later cycle starts with; until
  // then a message would leave through a port that feeds nothing. Waiting as long as a message
  // takes to be delivered covers that switch.
  bool AwaitConnection() const {
    return monitor->WaitForCycle(monitor->Cycles() + kCyclesUntilDelivered, kSendTimeout);
  }

  // Registers the virtual port of `midi` (an RtMidiOut or RtMidiIn client on this server, its
  // errors reported to `errors`) under a new name and connects it with `peer`: our output to
  // the peer's input, or the peer's output to our input. `own` gets our port's full name.
  template <typename Midi>
  MMRESULT RegisterAndConnect(Midi& midi, ErrorSink& errors, const std::string& peer,
                              std::string* own) {
    constexpr bool output = std::is_same_v<Midi, RtMidiOut>;
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

  size_t MaxMessageBytes() const {
    const size_t buffer = monitor->MidiBufferSize();
    const size_t eventLimit = buffer > kMidiBufferHeaderBytes + kMidiEventRecordBytes
                                  ? buffer - kMidiBufferHeaderBytes - kMidiEventRecordBytes
                                  : 0;
    return std::min(kRingUsableBytes - kRingRecordBytes, eventLimit);
  }
};

class JackOutputConnection final : public OutputConnection {
 public:
  JackOutputConnection(std::shared_ptr<JackCore> core, std::string destination)
      : core_(std::move(core)), destination_(std::move(destination)) {}
  ~JackOutputConnection() override { Close(); }

  // Registers a port through RtMidi and connects it to `destination`.
  MMRESULT Open() {
    try {
      out_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, core_->clientName);
      out_->setErrorCallback(&ErrorSink::OnError, &errors_);
    } catch (const RtMidiError&) {
      return MMSYSERR_ERROR;
    }
    return core_->RegisterAndConnect(*out_, errors_, destination_, &own_);
  }

  MMRESULT SendLong(MIDIHDR* header) override {
    MMRESULT result = Send(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength,
                           /*waitUntilDelivered=*/true);
    if (result == MMSYSERR_NOERROR) MarkDone(header);
    return result;
  }

  MMRESULT SendShort(uint32_t packed) override {
    const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                              static_cast<uint8_t>(packed >> 16)};
    return Send(bytes, ShortMessageLength(bytes[0]), /*waitUntilDelivered=*/false);
  }

  void Close() override {
    if (!out_) return;
    out_.reset();  // unregisters the port and closes RtMidi's client
    if (!own_.empty()) core_->Release(own_);
    inFlight_.clear();
  }

 private:
  struct InFlight {
    uint64_t writtenAt;  // the monitor's count just after the write
    size_t bytes;
  };

  // The device is there as long as our port still feeds its port; when it goes away, JACK
  // unregisters its port and the connection with it.
  bool Linked() const { return out_ && core_->monitor->Connected(own_, destination_); }

  // Waits until the messages that may still be in RtMidi's ring leave room for `n` more bytes,
  // so that RtMidi neither drops the message nor spins waiting for room itself.
  bool WaitForRoom(size_t n, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const uint64_t now = core_->monitor->Cycles();
      while (!inFlight_.empty() && now >= inFlight_.front().writtenAt + kCyclesUntilDelivered) {
        inFlight_.pop_front();
      }
      size_t ring = n + kRingRecordBytes;
      size_t events = n + kMidiEventRecordBytes + kMidiBufferHeaderBytes;
      for (const InFlight& message : inFlight_) {
        ring += message.bytes + kRingRecordBytes;
        events += message.bytes + kMidiEventRecordBytes;
      }
      if (ring <= kRingUsableBytes && events <= core_->monitor->MidiBufferSize()) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !core_->monitor->WaitForCycle(now + 1, left)) return false;
    }
  }

  MMRESULT Send(const uint8_t* bytes, size_t n, bool waitUntilDelivered) {
    if (n == 0 || n > core_->MaxMessageBytes()) return MMSYSERR_INVALPARAM;
    if (!Linked()) return MMSYSERR_NODRIVER;
    const auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
    if (!WaitForRoom(n, deadline)) return Linked() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;
    errors_.Take();
    try {
      out_->sendMessage(bytes, n);
    } catch (const RtMidiError&) {
      return MMSYSERR_ERROR;
    }
    if (errors_.Take()) return MMSYSERR_ERROR;
    const uint64_t writtenAt = core_->monitor->Cycles();
    inFlight_.push_back({writtenAt, n});
    if (!waitUntilDelivered) return MMSYSERR_NOERROR;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!core_->monitor->WaitForCycle(writtenAt + kCyclesUntilDelivered,
                                      std::max(left, std::chrono::milliseconds(1)))) {
      return Linked() ? MIDIERR_NOTREADY : MMSYSERR_NODRIVER;
    }
    // A device that went away while the message was on its way may not have it.
    return Linked() ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
  }

  std::shared_ptr<JackCore> core_;
  const std::string destination_;
  std::string own_;
  ErrorSink errors_;
  std::unique_ptr<RtMidiOut> out_;
  std::deque<InFlight> inFlight_;
};

class JackInputSource final : public InputSource {
 public:
  JackInputSource(std::shared_ptr<JackCore> core, std::string source, InputReceiver& receiver)
      : core_(std::move(core)), source_(std::move(source)), pump_(receiver) {}
  ~JackInputSource() override { Close(); }

  MMRESULT Open() {
    try {
      in_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, core_->clientName, kInputQueueLimit);
      in_->setErrorCallback(&ErrorSink::OnError, &errors_);
      in_->ignoreTypes(/*midiSysex=*/false, /*midiTime=*/true, /*midiSense=*/true);
      in_->setCallback(&InputPump::OnMessage, &pump_);
    } catch (const RtMidiError&) {
      return MMSYSERR_ERROR;
    }
    return core_->RegisterAndConnect(*in_, errors_, source_, &own_);
  }

  void Close() override {
    // Closing RtMidi's client stops its process thread, so no callback is running or will
    // run; then the pump finishes a delivery in progress and stops.
    if (in_) {
      in_.reset();
      if (!own_.empty()) core_->Release(own_);
    }
    pump_.Stop();
  }

 private:
  std::shared_ptr<JackCore> core_;
  const std::string source_;
  std::string own_;
  ErrorSink errors_;
  InputPump pump_;
  std::unique_ptr<RtMidiIn> in_;
};

// ---- ALSA --------------------------------------------------------------------------------

// Finds the RtMidi index of the port whose RtMidi name is `id` (the name holds the numeric
// client and port ids, so it names one port).
template <typename Midi>
std::optional<unsigned int> RtMidiIndexOf(Midi& midi, const std::string& id) {
  const unsigned int count = midi.getPortCount();
  for (unsigned int i = 0; i < count; ++i) {
    if (midi.getPortName(i) == id) return i;
  }
  return std::nullopt;
}

// Opens the port of `midi` (an RtMidiOut or RtMidiIn client on the sequencer, its errors
// reported to `errors`), named `ownName`, connected with the port whose RtMidi name is `peer`.
// RtMidi may throw; the caller catches.
template <typename Midi>
MMRESULT OpenAlsaPort(Midi& midi, ErrorSink& errors, const std::string& peer, const char* ownName) {
  auto index = RtMidiIndexOf(midi, peer);
  if (!index) return MMSYSERR_BADDEVICEID;
  midi.openPort(*index, ownName);
  if (errors.Take() || !midi.isPortOpen()) return MMSYSERR_ERROR;
  return MMSYSERR_NOERROR;
}

class AlsaOutputConnection final : public OutputConnection {
 public:
  AlsaOutputConnection(std::string clientName, std::string destination)
      : clientName_(std::move(clientName)), destination_(std::move(destination)) {}
  ~AlsaOutputConnection() override { Close(); }

  MMRESULT Open() {
    try {
      out_ = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName_);
      out_->setErrorCallback(&ErrorSink::OnError, &errors_);
      return OpenAlsaPort(*out_, errors_, destination_, "out");
    } catch (const RtMidiError&) {
      return MMSYSERR_ERROR;
    }
  }

  MMRESULT SendLong(MIDIHDR* header) override {
    MMRESULT result =
        Send(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
    // The sequencer has the whole event once the send returns without an error.
    if (result == MMSYSERR_NOERROR) MarkDone(header);
    return result;
  }

  MMRESULT SendShort(uint32_t packed) override {
    const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                              static_cast<uint8_t>(packed >> 16)};
    return Send(bytes, ShortMessageLength(bytes[0]));
  }

  void Close() override { out_.reset(); }

 private:
  MMRESULT Send(const uint8_t* bytes, size_t n) {
    if (n == 0 || n > kAlsaMaxMessageBytes) return MMSYSERR_INVALPARAM;
    if (!out_) return MMSYSERR_NODRIVER;
    try {
      // A message to a subscription without subscribers goes nowhere without an error, so the
      // destination's presence is checked before and after.
      if (!RtMidiIndexOf(*out_, destination_)) return MMSYSERR_NODRIVER;
      errors_.Take();
      out_->sendMessage(bytes, n);
      if (errors_.Take()) return MMSYSERR_ERROR;
      if (!RtMidiIndexOf(*out_, destination_)) return MMSYSERR_NODRIVER;
    } catch (const RtMidiError&) {
      return MMSYSERR_ERROR;
    }
    return MMSYSERR_NOERROR;
  }

  const std::string clientName_;
  const std::string destination_;
  ErrorSink errors_;
  std::unique_ptr<RtMidiOut> out_;
};

class AlsaInputSource final : public InputSource {
 public:
  AlsaInputSource(std::string clientName, std::string source, InputReceiver& receiver)
      : clientName_(std::move(clientName)), source_(std::move(source)), pump_(receiver) {}
  ~AlsaInputSource() override { Close(); }

  MMRESULT Open() {
    try {
      in_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName_, kInputQueueLimit);
      in_->setErrorCallback(&ErrorSink::OnError, &errors_);
      in_->ignoreTypes(/*midiSysex=*/false, /*midiTime=*/true, /*midiSense=*/true);
      in_->setBufferSize(kAlsaInputChunkBytes, kAlsaInputChunkCount);
      in_->setCallback(&InputPump::OnMessage, &pump_);
      return OpenAlsaPort(*in_, errors_, source_, "in");
    } catch (const RtMidiError&) {
      return MMSYSERR_ERROR;
    }
  }

  void Close() override {
    // RtMidi joins its ALSA input thread when the port closes, so no callback runs afterwards.
    in_.reset();
    pump_.Stop();
  }

 private:
  const std::string clientName_;
  const std::string source_;
  ErrorSink errors_;
  InputPump pump_;
  std::unique_ptr<RtMidiIn> in_;
};

// ---- The backend -------------------------------------------------------------------------

class RtMidiBackend final : public MidiBackend {
 public:
  explicit RtMidiBackend(std::shared_ptr<JackCore> jack)
      : clientName_(jack->clientName), jack_(std::move(jack)) {}
  RtMidiBackend(std::string clientName, std::unique_ptr<RtMidiOut> alsaOutputs,
                std::unique_ptr<RtMidiIn> alsaInputs)
      : clientName_(std::move(clientName)),
        alsaOutputs_(std::move(alsaOutputs)),
        alsaInputs_(std::move(alsaInputs)) {}

  uint32_t OutputCount() override {
    std::lock_guard lock(mutex_);
    outputs_.Update(jack_ ? JackPorts(JackPortIsInput) : AlsaPorts(*alsaOutputs_));
    return static_cast<uint32_t>(outputs_.size());
  }

  std::optional<std::string> OutputName(uint32_t index) override {
    const auto port = Listed(outputs_, index);
    return port ? std::optional(port->name) : std::nullopt;
  }

  std::unique_ptr<OutputConnection> OpenOutput(uint32_t index, MMRESULT& error) override {
    auto port = Listed(outputs_, index);
    if (!port) {
      error = MMSYSERR_BADDEVICEID;
      return nullptr;
    }
    if (jack_) return Opened(std::make_unique<JackOutputConnection>(jack_, port->id), error);
    return Opened(std::make_unique<AlsaOutputConnection>(clientName_, port->id), error);
  }

  uint32_t InputCount() override {
    std::lock_guard lock(mutex_);
    inputs_.Update(jack_ ? JackPorts(JackPortIsOutput) : AlsaPorts(*alsaInputs_));
    return static_cast<uint32_t>(inputs_.size());
  }

  std::optional<std::string> InputName(uint32_t index) override {
    const auto port = Listed(inputs_, index);
    return port ? std::optional(port->name) : std::nullopt;
  }

  std::unique_ptr<InputSource> OpenInput(uint32_t index, InputReceiver& receiver,
                                         MMRESULT& error) override {
    auto port = Listed(inputs_, index);
    if (!port) {
      error = MMSYSERR_BADDEVICEID;
      return nullptr;
    }
    if (jack_) return Opened(std::make_unique<JackInputSource>(jack_, port->id, receiver), error);
    return Opened(std::make_unique<AlsaInputSource>(clientName_, port->id, receiver), error);
  }

 private:
  // A copy of the port at `index` of `list`, as last listed, or nothing.
  std::optional<ListedPort> Listed(const StablePortList& list, uint32_t index) {
    std::lock_guard lock(mutex_);
    const ListedPort* port = list.At(index);
    if (port == nullptr) return std::nullopt;
    return *port;
  }

  template <typename Port,
            typename Base = std::conditional_t<std::is_base_of_v<OutputConnection, Port>,
                                               OutputConnection, InputSource>>
  static std::unique_ptr<Base> Opened(std::unique_ptr<Port> port, MMRESULT& error) {
    error = port->Open();
    if (error != MMSYSERR_NOERROR) return nullptr;  // the destructor closes what was opened
    return port;
  }

  std::vector<ListedPort> JackPorts(unsigned long flags) {
    std::vector<ListedPort> ports;
    for (const std::string& full : jack_->monitor->MidiPorts(flags)) {
      if (jack_->IsOwnClient(rtmidi::JackClientOf(full))) continue;
      ports.push_back({full, rtmidi::CleanJackPortName(full)});
    }
    return ports;
  }

  template <typename Midi>
  std::vector<ListedPort> AlsaPorts(Midi& lister) {
    std::vector<ListedPort> ports;
    try {
      const unsigned int count = lister.getPortCount();
      for (unsigned int i = 0; i < count; ++i) {
        const std::string id = lister.getPortName(i);
        if (id.empty() || rtmidi::IsOwnAlsaPort(id, clientName_)) continue;
        ports.push_back({id, rtmidi::CleanAlsaPortName(id)});
      }
    } catch (const RtMidiError&) {
      ports.clear();
    }
    return ports;
  }

  const std::string clientName_;
  std::shared_ptr<JackCore> jack_;          // set on JACK
  std::unique_ptr<RtMidiOut> alsaOutputs_;  // on ALSA: clients without ports that list ports
  std::unique_ptr<RtMidiIn> alsaInputs_;
  std::mutex mutex_;
  StablePortList outputs_;
  StablePortList inputs_;
};

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

std::shared_ptr<MidiBackend> MakeAlsaBackend(const std::string& clientName, std::string* why) {
  if (!Compiled(RtMidi::LINUX_ALSA)) {
    *why = "librtmidi was built without ALSA";
    return nullptr;
  }
  // Without the device file, opening the sequencer would only fail after a printed complaint.
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    *why = "/dev/snd/seq cannot be opened";
    return nullptr;
  }
  try {
    auto outputs = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
    auto inputs = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName, kInputQueueLimit);
    if (outputs->getCurrentApi() != RtMidi::LINUX_ALSA ||
        inputs->getCurrentApi() != RtMidi::LINUX_ALSA) {
      *why = "librtmidi did not open the ALSA sequencer";
      return nullptr;
    }
    return std::make_shared<RtMidiBackend>(clientName, std::move(outputs), std::move(inputs));
  } catch (const RtMidiError& e) {
    *why = e.getMessage();
    return nullptr;
  }
}

std::shared_ptr<MidiBackend> MakeJackBackend(const std::string& clientName, std::string* why) {
  if (!Compiled(RtMidi::UNIX_JACK)) {
    *why = "librtmidi was built without JACK";
    return nullptr;
  }
  auto core = std::make_shared<JackCore>();
  core->clientName = clientName;
  core->monitor = JackMonitor::Open(clientName, why);
  if (!core->monitor) return nullptr;
  if (core->MaxMessageBytes() == 0) {
    *why = "the JACK server's MIDI buffers are too small";
    return nullptr;
  }
  return std::make_shared<RtMidiBackend>(std::move(core));
}

// A client name that JACK and ALSA take as it is: no ':' (it separates client and port),
// short enough for JACK to add its "-NN", and no UTF-8 sequence cut in half.
std::string UsableClientName(std::string name) {
  std::replace(name.begin(), name.end(), ':', ' ');
  if (name.empty()) name = "MIDI";
  name.resize(Utf8CutLength(name.data(), name.size(), name.size(), kMaxClientNameBytes));
  return name;
}

}  // namespace

std::shared_ptr<MidiBackend> MakeRtMidiBackend(std::string clientName, std::string* error,
                                               MidiSystem system) {
  clientName = UsableClientName(std::move(clientName));
  std::string alsaWhy = "not tried";
  std::string jackWhy = "not tried";
  if (system != MidiSystem::Jack) {
    if (auto backend = MakeAlsaBackend(clientName, &alsaWhy)) return backend;
  }
  if (system != MidiSystem::Alsa) {
    if (auto backend = MakeJackBackend(clientName, &jackWhy)) return backend;
  }
  if (error) {
    *error =
        "No MIDI system is available: the ALSA sequencer: " + alsaWhy + "; JACK: " + jackWhy + ".";
  }
  return nullptr;
}

bool StartRealMidiService(std::string clientName, std::string* error, MidiSystem system) {
  auto backend = MakeRtMidiBackend(std::move(clientName), error, system);
  if (!backend) return false;
  StartMidiService(std::move(backend));
  return true;
}

}  // namespace q9m::platform
