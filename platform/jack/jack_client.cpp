#include "platform/jack/jack_client.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/jack/jack_backend.h"

namespace q9m::platform::jack {

namespace {

using Clock = std::chrono::steady_clock;

// jack_get_ports hands out a NULL-terminated array that the caller frees with jack_free.
std::vector<std::string> TakePortNames(const char** names) {
  std::vector<std::string> result;
  if (names == nullptr) return result;
  for (size_t i = 0; names[i] != nullptr; ++i) result.emplace_back(names[i]);
  jack_free(names);
  return result;
}

// libjack writes its own lines on standard error ("Cannot connect to server socket ...")
// whenever no server answers. The program says what failed in its own words, once.
void KeepLibjackQuiet() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

// A period lasts milliseconds; a short sleep keeps a wait for the next cycle cheap.
void AwaitNextLook() {
  std::this_thread::sleep_for(std::chrono::microseconds(100));
}

}  // namespace

// ---- Output channel ------------------------------------------------------------------------

bool JackOutputChannel::WaitTaken(Clock::time_point deadline, const JackClient& client) {
  return slot_.WaitTaken(deadline, client.AliveFlag());
}

void JackOutputChannel::Serve(uint32_t frames) {
  void* buffer = jack_port_get_buffer(port_, frames);
  jack_midi_clear_buffer(buffer);
  const uint8_t* bytes = nullptr;
  size_t n = 0;
  if (slot_.Claim(&bytes, &n)) slot_.Finish(jack_midi_event_write(buffer, 0, bytes, n) == 0);
}

// ---- Input channel -------------------------------------------------------------------------

void JackInputChannel::Serve(uint32_t frames) {
  void* buffer = jack_port_get_buffer(port_, frames);
  const uint32_t events = jack_midi_get_event_count(buffer);
  for (uint32_t i = 0; i < events; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) == 0 && event.size > 0) {
      pump_->Push(event.buffer, event.size);
    }
  }
}

// ---- Client --------------------------------------------------------------------------------

std::unique_ptr<JackClient> JackClient::Open(const std::string& name, std::string* error) {
  std::unique_ptr<JackClient> client(new JackClient());
  client->name_ = name;
  jack_status_t status{};
  KeepLibjackQuiet();
  client->client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (client->client_ == nullptr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(status));
    if (error) *error = std::string("no JACK server is running (status 0x") + hex + ")";
    return nullptr;
  }
  client->midiBufferSize_ = jack_port_type_get_buffer_size(client->client_, JACK_DEFAULT_MIDI_TYPE);
  if (client->midiBufferSize_ == 0 ||
      jack_set_process_callback(client->client_, &JackClient::OnProcess, client.get()) != 0) {
    if (error) *error = "the JACK server refused the backend's client";
    return nullptr;  // the destructor closes the client
  }
  // Set before the client is first activated, as the server requires.
  jack_set_port_registration_callback(client->client_, &JackClient::OnPortRegistration,
                                      client.get());
  jack_set_port_rename_callback(client->client_, &JackClient::OnPortRename, client.get());
  jack_on_shutdown(client->client_, &JackClient::OnShutdown, client.get());
  return client;
}

JackClient::~JackClient() {
  // Closing the client ends its process thread first, then frees its ports.
  if (client_ != nullptr) jack_client_close(client_);
}

int JackClient::OnProcess(uint32_t frames, void* self) {
  auto* client = static_cast<JackClient*>(self);
  client->cycles_.fetch_add(1, std::memory_order_acq_rel);
  for (JackOutputChannel& out : client->outputs_) {
    const uint32_t state = out.state_.load(std::memory_order_acquire);
    if (state == JackChannel::kOpen) out.Serve(frames);
    if (state == JackChannel::kClosing) {
      // Left empty, a port that is still registered sends nothing again in later cycles.
      jack_midi_clear_buffer(jack_port_get_buffer(out.port_, frames));
      out.state_.store(JackChannel::kClosed, std::memory_order_release);
    }
  }
  for (JackInputChannel& in : client->inputs_) {
    const uint32_t state = in.state_.load(std::memory_order_acquire);
    if (state == JackChannel::kOpen) in.Serve(frames);
    if (state == JackChannel::kClosing)
      in.state_.store(JackChannel::kClosed, std::memory_order_release);
  }
  return 0;
}

void JackClient::OnShutdown(void* self) {
  auto* client = static_cast<JackClient*>(self);
  client->alive_.store(false, std::memory_order_release);
  client->portChanges_.Note();  // every port is gone with the server
}

// Both come on the client's notification thread, never the process thread.
void JackClient::OnPortRegistration(uint32_t, int, void* self) {
  static_cast<JackClient*>(self)->portChanges_.Note();
}

void JackClient::OnPortRename(uint32_t, const char*, const char*, void* self) {
  static_cast<JackClient*>(self)->portChanges_.Note();
}

bool JackClient::Activate() {
  if (active_) return true;
  if (!Alive() || jack_activate(client_) != 0) return false;
  active_ = true;
  return true;
}

void JackClient::DeactivateWhenIdle() {
  if (openPorts_ == 0 && watchers_ == 0 && active_) {
    jack_deactivate(client_);
    active_ = false;
  }
}

bool JackClient::Watch() {
  std::lock_guard lock(mutex_);
  if (!Activate()) return false;
  ++watchers_;
  return true;
}

void JackClient::Unwatch() {
  std::lock_guard lock(mutex_);
  if (watchers_ == 0) return;
  --watchers_;
  DeactivateWhenIdle();
}

std::vector<std::string> JackClient::MidiPorts(unsigned long jackPortFlags) const {
  if (!Alive()) return {};
  return TakePortNames(jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, jackPortFlags));
}

std::vector<std::string> JackClient::Aliases(const std::string& fullName) const {
  jack_port_t* port = Alive() ? jack_port_by_name(client_, fullName.c_str()) : nullptr;
  if (port == nullptr) return {};
  // Each alias fits a port name; the zeros end one that fills its buffer.
  const size_t size = static_cast<size_t>(jack_port_name_size()) + 1;
  std::string first(size, '\0'), second(size, '\0');
  char* const buffers[2] = {first.data(), second.data()};
  const int count = jack_port_get_aliases(port, buffers);
  std::vector<std::string> aliases;
  for (int i = 0; i < std::min(count, 2); ++i) aliases.emplace_back(buffers[i]);
  return aliases;
}

bool JackClient::PortExists(const std::string& fullName) const {
  return Alive() && jack_port_by_name(client_, fullName.c_str()) != nullptr;
}

bool JackClient::Connect(const std::string& source, const std::string& destination) {
  if (!Alive()) return false;
  const int result = jack_connect(client_, source.c_str(), destination.c_str());
  return result == 0 || result == EEXIST;
}

bool JackClient::Connected(const std::string& source, const std::string& destination) const {
  if (!Alive()) return false;
  jack_port_t* port = jack_port_by_name(client_, destination.c_str());
  if (port == nullptr) return false;
  for (const std::string& peer : TakePortNames(jack_port_get_all_connections(client_, port))) {
    if (peer == source) return true;
  }
  return false;
}

MMRESULT JackClient::Link(const std::string& source, const std::string& destination,
                          const std::string& peer) {
  if (!Connect(source, destination))
    return PortExists(peer) ? MMSYSERR_ERROR : MMSYSERR_BADDEVICEID;
  const uint64_t target = cycles_.load(std::memory_order_acquire) + kCyclesUntilConnected;
  const auto deadline = Clock::now() + kSendTimeout;
  // Our cycle count when the running graph was first seen to hold the connection: every cycle
  // of ours counted after it began with that graph.
  std::optional<uint64_t> seenAt;
  for (;;) {
    const uint64_t cycles = cycles_.load(std::memory_order_acquire);
    if (seenAt && cycles > *seenAt && cycles >= target) return MMSYSERR_NOERROR;
    if (!Alive() || Clock::now() >= deadline) return MIDIERR_NOTREADY;
    if (!seenAt && Connected(source, destination)) seenAt = cycles_.load(std::memory_order_acquire);
    AwaitNextLook();
  }
}

size_t JackClient::MaxMessageBytes() const {
  const size_t overhead = kMidiBufferHeaderBytes + kMidiEventRecordBytes;
  const size_t eventLimit = midiBufferSize_ > overhead ? midiBufferSize_ - overhead : 0;
  return std::min(kJackMaxMessageBytes, eventLimit);
}

template <typename Channel>
Channel* JackClient::OpenChannel(std::array<Channel, kChannels>& channels, unsigned long flags,
                                 const char* kind) {
  auto free = std::find_if(channels.begin(), channels.end(), [](const Channel& c) {
    return c.state_.load(std::memory_order_acquire) == JackChannel::kFree;
  });
  if (free == channels.end() || !Alive()) return nullptr;
  const std::string shortName = std::string(kind) + "-" + std::to_string(++lastPort_);
  jack_port_t* port =
      jack_port_register(client_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
  if (port == nullptr) return nullptr;
  free->port_ = port;
  free->fullName_ = jack_port_name(port);
  if (!Activate()) {
    jack_port_unregister(client_, port);
    free->port_ = nullptr;
    return nullptr;
  }
  ++openPorts_;
  return &*free;
}

JackOutputChannel* JackClient::OpenOutput() {
  std::lock_guard lock(mutex_);
  JackOutputChannel* channel = OpenChannel(outputs_, JackPortIsOutput, "out");
  if (channel != nullptr) channel->state_.store(JackChannel::kOpen, std::memory_order_release);
  return channel;
}

JackInputChannel* JackClient::OpenInput(InputPump& pump) {
  std::lock_guard lock(mutex_);
  JackInputChannel* channel = OpenChannel(inputs_, JackPortIsInput, "in");
  if (channel == nullptr) return nullptr;
  channel->pump_ = &pump;
  channel->state_.store(JackChannel::kOpen, std::memory_order_release);
  return channel;
}

void JackClient::Close(JackChannel* channel) {
  std::lock_guard lock(mutex_);
  if (channel == nullptr || channel->state_.load() != JackChannel::kOpen) return;
  channel->state_.store(JackChannel::kClosing, std::memory_order_release);
  const auto deadline = Clock::now() + kSendTimeout;
  while (channel->state_.load(std::memory_order_acquire) == JackChannel::kClosing && Alive() &&
         Clock::now() < deadline) {
    AwaitNextLook();
  }
  if (channel->state_.load(std::memory_order_acquire) == JackChannel::kClosing && Alive()) {
    // The callback has not answered: it may still use the port, which therefore stays
    // registered until the client closes, and the channel is not used again.
    return;
  }
  jack_port_unregister(client_, channel->port_);
  channel->port_ = nullptr;
  channel->state_.store(JackChannel::kFree, std::memory_order_release);
  --openPorts_;
  DeactivateWhenIdle();
}

}  // namespace q9m::platform::jack
