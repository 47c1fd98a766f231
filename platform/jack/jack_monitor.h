// A small JACK client of the backend's own, with no ports: it counts the server's process
// cycles (so that a sender can tell when bytes handed to RtMidi have really left), knows the
// size of a MIDI port buffer, lists ports and makes and checks connections.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;

namespace q9m::platform::jack {

class JackMonitor {
 public:
  // Connects to the running server (never starts one). Nothing when no server runs.
  static std::unique_ptr<JackMonitor> Open(const std::string& clientName, std::string* error);
  ~JackMonitor();
  JackMonitor(const JackMonitor&) = delete;
  JackMonitor& operator=(const JackMonitor&) = delete;

  // Process cycles the server has run since the monitor was activated.
  uint64_t Cycles() const { return cycles_.load(std::memory_order_acquire); }
  // False once the server has shut down or thrown the monitor out.
  bool Alive() const { return alive_.load(std::memory_order_acquire); }
  // Waits until Cycles() reaches `target`; false when the server stops or `timeout` passes.
  bool WaitForCycle(uint64_t target, std::chrono::milliseconds timeout) const;

  // Bytes of one MIDI port buffer: the events of one cycle, with the buffer's own records.
  size_t MidiBufferSize() const { return midiBufferSize_; }

  // Full names ("client:port") of the MIDI ports that carry all of `jackPortFlags`, in the
  // server's order.
  std::vector<std::string> MidiPorts(unsigned long jackPortFlags) const;
  // The full name of the one port whose short name is `shortName`, if there is exactly one.
  std::optional<std::string> FindPortByShortName(const std::string& shortName) const;
  bool PortExists(const std::string& fullName) const;
  bool Connect(const std::string& source, const std::string& destination, std::string* error);
  // True when both ports exist and `source` feeds `destination`.
  bool Connected(const std::string& source, const std::string& destination) const;

 private:
  JackMonitor() = default;
  static int OnProcess(uint32_t frames, void* self);
  static void OnShutdown(void* self);

  jack_client_t* client_ = nullptr;
  size_t midiBufferSize_ = 0;
  std::atomic<uint64_t> cycles_{0};
  std::atomic<bool> alive_{true};
};

}  // namespace q9m::platform::jack
