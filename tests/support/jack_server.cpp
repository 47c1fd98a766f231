#include "tests/support/jack_server.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace q9m::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);

std::string Tail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

// Waits for the child to end, up to `timeout`. True when it has been reaped.
bool Reap(pid_t pid, Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PrintJackError(const char* text) {
  std::fprintf(stderr, "jack: %s\n", text);
}

void StopChild(pid_t pid) {
  kill(pid, SIGTERM);
  if (Reap(pid, kStopTimeout)) return;
  kill(pid, SIGKILL);
  Reap(pid, kStopTimeout);
}

}  // namespace

std::unique_ptr<JackServer> JackServer::Start(std::string* error, int periodFrames) {
  static std::atomic<int> started{0};
  const std::string name = "q9m-test-" + std::to_string(getpid()) + "-" + std::to_string(++started);
  const std::string logPath = "/tmp/" + name + ".log";
  const std::string period = std::to_string(periodFrames);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    if (error) *error = std::string("fork failed: ") + std::strerror(errno);
    return nullptr;
  }
  if (pid == 0) {
    // A test process that dies (a crash, or ctest's time-out) takes its server with it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      close(log);
    }
    execlp("jackd", "jackd", "-n", name.c_str(), "-d", "dummy", "-p", period.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }

  // Clients of this process reach this server, and none starts a server of its own.
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  std::unique_ptr<JackServer> server(new JackServer(name, pid, logPath));

  // Until the server listens, every probe would print libjack's complaint.
  jack_set_error_function(+[](const char*) {});
  struct LoudAgain {
    ~LoudAgain() { jack_set_error_function(&PrintJackError); }
  } loudAgain;
  const auto deadline = Clock::now() + kStartTimeout;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      server->pid_ = 0;  // already reaped
      if (error) *error = "jackd exited at start:\n" + Tail(logPath);
      return nullptr;
    }
    jack_status_t jackStatus{};
    jack_client_t* probe = jack_client_open("q9m-test-probe", JackNoStartServer, &jackStatus);
    if (probe != nullptr) {
      jack_client_close(probe);
      return server;
    }
    if (Clock::now() >= deadline) {
      if (error) *error = "no client could connect to jackd " + name + ":\n" + Tail(logPath);
      return nullptr;  // the destructor stops the server
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

JackServer::~JackServer() {
  if (pid_ > 0) StopChild(pid_);
  unlink(logPath_.c_str());
}

// ---- JackPeer ----------------------------------------------------------------------------

std::unique_ptr<JackPeer> JackPeer::Open(const std::string& clientName,
                                         const std::vector<std::string>& inputs,
                                         const std::vector<std::string>& outputs,
                                         std::string* error) {
  std::unique_ptr<JackPeer> peer(new JackPeer());
  jack_status_t status{};
  peer->client_ =
      jack_client_open(clientName.c_str(),
                       static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
  if (peer->client_ == nullptr) {
    if (error) *error = "cannot open JACK client " + clientName;
    return nullptr;
  }
  for (const std::string& name : inputs) {
    Input input;
    input.port =
        jack_port_register(peer->client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (input.port == nullptr) {
      if (error) *error = "cannot register input port " + name;
      return nullptr;
    }
    peer->inputs_.push_back(std::move(input));
  }
  for (const std::string& name : outputs) {
    Output output;
    output.port = jack_port_register(peer->client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                     JackPortIsOutput, 0);
    if (output.port == nullptr) {
      if (error) *error = "cannot register output port " + name;
      return nullptr;
    }
    peer->outputs_.push_back(std::move(output));
  }
  // One event per buffer at most this size; leave room for the buffer's own records.
  peer->maxEventBytes_ = jack_port_type_get_buffer_size(peer->client_, JACK_DEFAULT_MIDI_TYPE) - 64;
  jack_set_process_callback(peer->client_, &JackPeer::OnProcess, peer.get());
  jack_set_xrun_callback(peer->client_, &JackPeer::OnLateCycle, peer.get());
  if (jack_activate(peer->client_) != 0) {
    if (error) *error = "cannot activate JACK client " + clientName;
    return nullptr;
  }
  return peer;
}

JackPeer::~JackPeer() {
  if (client_ != nullptr) jack_client_close(client_);
}

std::string JackPeer::FullName(const std::string& portShortName) const {
  return std::string(jack_get_client_name(client_)) + ":" + portShortName;
}

std::vector<std::string> JackPeer::AllMidiPorts() const {
  std::vector<std::string> ports;
  const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
  for (size_t i = 0; names != nullptr && names[i] != nullptr; ++i) ports.emplace_back(names[i]);
  if (names != nullptr) jack_free(names);
  return ports;
}

int JackPeer::OnProcess(uint32_t frames, void* self) {
  static_cast<JackPeer*>(self)->Process(frames);
  return 0;
}

int JackPeer::OnLateCycle(void* self) {
  static_cast<JackPeer*>(self)->lateCycles_.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

void JackPeer::Process(uint32_t frames) {
  // A test's own peer may block here for a moment: events of a cycle that is not read in
  // that cycle would be lost.
  std::unique_lock lock(mutex_);
  for (Output& output : outputs_) {
    void* buffer = jack_port_get_buffer(output.port, frames);
    jack_midi_clear_buffer(buffer);
    while (!output.queued.empty()) {
      const std::vector<uint8_t>& message = output.queued.front();
      if (jack_midi_max_event_size(buffer) < message.size()) break;  // next cycle
      jack_midi_event_write(buffer, 0, message.data(), message.size());
      output.queued.pop_front();
    }
  }
  for (Input& input : inputs_) {
    if (input.port == nullptr) continue;
    void* buffer = jack_port_get_buffer(input.port, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0) continue;
      input.received.emplace_back(event.buffer, event.buffer + event.size);
    }
  }
  lock.unlock();
  changed_.notify_all();
}

std::vector<std::vector<uint8_t>> JackPeer::Received(size_t input) const {
  std::lock_guard lock(mutex_);
  return inputs_.at(input).received;
}

bool JackPeer::WaitForReceived(size_t input, size_t count,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [&] { return inputs_.at(input).received.size() >= count; });
}

void JackPeer::ClearReceived(size_t input) {
  std::lock_guard lock(mutex_);
  inputs_.at(input).received.clear();
}

bool JackPeer::Send(size_t output, std::vector<uint8_t> message) {
  if (message.empty() || message.size() > maxEventBytes_) return false;
  std::lock_guard lock(mutex_);
  outputs_.at(output).queued.push_back(std::move(message));
  return true;
}

bool JackPeer::WaitUntilSent(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const Output& output : outputs_) {
      if (!output.queued.empty()) return false;
    }
    return true;
  });
}

void JackPeer::UnregisterInput(size_t input) {
  jack_port_t* port;
  {
    std::lock_guard lock(mutex_);
    port = inputs_.at(input).port;
    inputs_.at(input).port = nullptr;
  }
  if (port != nullptr) jack_port_unregister(client_, port);
}

bool JackPeer::AliasInput(size_t input, const std::string& alias) {
  std::lock_guard lock(mutex_);
  return jack_port_set_alias(inputs_.at(input).port, alias.c_str()) == 0;
}

}  // namespace q9m::testing
