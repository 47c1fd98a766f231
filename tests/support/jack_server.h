// A private JACK server for tests, and a raw JACK client that plays the device's side.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace q9m::testing {

// Runs `jackd -n NAME -d dummy -p PERIOD` with a name no other run uses, and points the
// process's JACK clients at it (JACK_DEFAULT_SERVER). Stops it by its pid when destroyed.
class JackServer {
 public:
  // Nothing, with a reason, when the server does not start or accepts no client within a few
  // seconds.
  static std::unique_ptr<JackServer> Start(std::string* error, int periodFrames = 256);
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  const std::string& Name() const { return name_; }

 private:
  JackServer(std::string name, pid_t pid, std::string logPath)
      : name_(std::move(name)), pid_(pid), logPath_(std::move(logPath)) {}

  std::string name_;
  pid_t pid_;
  std::string logPath_;
};

// A JACK client with MIDI ports of its own, standing for the device: what reaches its input
// ports is recorded event by event, and it sends bytes from its output ports.
class JackPeer {
 public:
  // Opens client `clientName` with an input port for each of `inputs` and an output port for
  // each of `outputs`. Nothing, with a reason, on failure.
  static std::unique_ptr<JackPeer> Open(const std::string& clientName,
                                        const std::vector<std::string>& inputs,
                                        const std::vector<std::string>& outputs,
                                        std::string* error);
  ~JackPeer();
  JackPeer(const JackPeer&) = delete;
  JackPeer& operator=(const JackPeer&) = delete;

  std::string FullName(const std::string& portShortName) const;
  // Full names of every MIDI port on the server, whoever owns it.
  std::vector<std::string> AllMidiPorts() const;

  // Events received on input port `input` so far, each as one message.
  std::vector<std::vector<uint8_t>> Received(size_t input) const;
  // Waits until input port `input` has received `count` events in all.
  bool WaitForReceived(size_t input, size_t count, std::chrono::milliseconds timeout) const;
  void ClearReceived(size_t input);

  // Queues `message` as one event on output port `output`; it leaves in the next cycle that
  // has room for it. False when the message can never fit a MIDI buffer.
  bool Send(size_t output, std::vector<uint8_t> message);
  // Waits until every queued message has been written into a port buffer.
  bool WaitUntilSent(std::chrono::milliseconds timeout) const;

  // The device goes away: the input port leaves the server (and every connection with it).
  void UnregisterInput(size_t input);
  // Gives input port `input` an alias, as a bridge names the device behind a port.
  bool AliasInput(size_t input, const std::string& alias);

  // Late cycles that the server has reported since the peer opened. A port buffer lives for
  // one cycle, so a client that runs a cycle late can miss what another wrote into it.
  uint32_t LateCycles() const { return lateCycles_.load(std::memory_order_acquire); }

 private:
  JackPeer() = default;
  static int OnProcess(uint32_t frames, void* self);
  static int OnLateCycle(void* self);
  void Process(uint32_t frames);

  struct Input {
    jack_port_t* port = nullptr;
    std::vector<std::vector<uint8_t>> received;
  };
  struct Output {
    jack_port_t* port = nullptr;
    std::deque<std::vector<uint8_t>> queued;
  };

  jack_client_t* client_ = nullptr;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Input> inputs_;
  std::vector<Output> outputs_;
  size_t maxEventBytes_ = 0;
  std::atomic<uint32_t> lateCycles_{0};
};

}  // namespace q9m::testing
