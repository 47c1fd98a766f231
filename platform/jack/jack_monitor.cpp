#include "platform/jack/jack_monitor.h"

#include <jack/jack.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/jack/jack_port_names.h"

namespace q9m::platform::jack {

namespace {

// jack_get_ports hands out a NULL-terminated array that the caller frees with jack_free.
std::vector<std::string> TakePortNames(const char** names) {
  std::vector<std::string> result;
  if (names == nullptr) return result;
  for (size_t i = 0; names[i] != nullptr; ++i) result.emplace_back(names[i]);
  jack_free(names);
  return result;
}

}  // namespace

std::unique_ptr<JackMonitor> JackMonitor::Open(const std::string& clientName, std::string* error) {
  std::unique_ptr<JackMonitor> monitor(new JackMonitor());
  jack_status_t status{};
  monitor->client_ = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
  if (monitor->client_ == nullptr) {
    if (error) *error = "no JACK server is running (status 0x" + std::to_string(status) + ")";
    return nullptr;
  }
  jack_set_process_callback(monitor->client_, &JackMonitor::OnProcess, monitor.get());
  jack_on_shutdown(monitor->client_, &JackMonitor::OnShutdown, monitor.get());
  monitor->midiBufferSize_ =
      jack_port_type_get_buffer_size(monitor->client_, JACK_DEFAULT_MIDI_TYPE);
  if (monitor->midiBufferSize_ == 0 || jack_activate(monitor->client_) != 0) {
    if (error) *error = "the JACK server refused to run the backend's client";
    return nullptr;  // the destructor closes the client
  }
  return monitor;
}

JackMonitor::~JackMonitor() {
  if (client_ != nullptr) jack_client_close(client_);
}

int JackMonitor::OnProcess(uint32_t /*frames*/, void* self) {
  static_cast<JackMonitor*>(self)->cycles_.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

void JackMonitor::OnShutdown(void* self) {
  static_cast<JackMonitor*>(self)->alive_.store(false, std::memory_order_release);
}

bool JackMonitor::WaitForCycle(uint64_t target, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Cycles() < target) {
    if (!Alive() || std::chrono::steady_clock::now() >= deadline) return false;
    // A period lasts milliseconds; a short sleep keeps the wait cheap without adding much.
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  return true;
}

std::vector<std::string> JackMonitor::MidiPorts(unsigned long jackPortFlags) const {
  if (!Alive()) return {};
  return TakePortNames(jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, jackPortFlags));
}

std::optional<std::string> JackMonitor::FindPortByShortName(const std::string& shortName) const {
  std::optional<std::string> found;
  for (const std::string& port : MidiPorts(0)) {
    if (CleanJackPortName(port) != shortName) continue;
    if (found) return std::nullopt;  // ambiguous
    found = port;
  }
  return found;
}

bool JackMonitor::PortExists(const std::string& fullName) const {
  return Alive() && jack_port_by_name(client_, fullName.c_str()) != nullptr;
}

bool JackMonitor::Connect(const std::string& source, const std::string& destination,
                          std::string* error) {
  if (!Alive()) {
    if (error) *error = "the JACK server has shut down";
    return false;
  }
  const int result = jack_connect(client_, source.c_str(), destination.c_str());
  if (result == 0 || result == EEXIST) return true;
  if (error) *error = "JACK could not connect " + source + " to " + destination;
  return false;
}

bool JackMonitor::Connected(const std::string& source, const std::string& destination) const {
  if (!Alive()) return false;
  jack_port_t* port = jack_port_by_name(client_, destination.c_str());
  if (port == nullptr) return false;
  for (const std::string& peer : TakePortNames(jack_port_get_all_connections(client_, port))) {
    if (peer == source) return true;
  }
  return false;
}

}  // namespace q9m::platform::jack
