// The backend's one client on a JACK server. It lists ports and makes connections, and it
// carries the MIDI ports that the program opens: its process callback puts a posted message into
// an output port's buffer and hands what arrives at an input port to that port's pump.
//
// One client for all of it keeps the server's graph small: one thread of ours to wake in each
// cycle while ports are open or ports are watched. Otherwise the client is not active, so an
// idle program costs the server nothing.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/input_pump.h"
#include "platform/jack/message_slot.h"
#include "platform/midi_types.h"
#include "platform/port_watch.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace q9m::platform::jack {

class JackClient;

// How long a send may wait for a cycle to take its message, and a close for a cycle to let go
// of its port.
inline constexpr std::chrono::milliseconds kSendTimeout{1000};

// A JACK MIDI buffer keeps a header and a record per event besides the event bytes; these
// allowances are larger than what a jackd2 server uses (48 bytes for one event in a buffer).
inline constexpr size_t kMidiBufferHeaderBytes = 64;
inline constexpr size_t kMidiEventRecordBytes = 16;

// The server writes a new connection into the graph that a later cycle starts with: the cycle
// running when it was made, and the next, which may have started in parallel, may still run
// without it. From the third on, a message leaves through it, provided the server has switched
// to that graph: a server whose clients are late keeps running the old graph, for up to its
// client time-out, so the connection must also be seen in the graph being run.
inline constexpr uint64_t kCyclesUntilConnected = 3;

// A port of the client as its process callback sees it. A channel lives as long as the client,
// so the callback never meets a freed one; a port is attached to it while a connection has the
// port open. The callback reads the port and the channel's fields only in the states kOpen and
// kClosing, and the closer unregisters the port only after the callback has answered kClosing
// with kClosed, in a later cycle than any that used the port.
class JackChannel {
 public:
  enum State : uint32_t { kFree, kOpen, kClosing, kClosed };

  const std::string& FullName() const { return fullName_; }

 protected:
  friend class JackClient;
  std::atomic<uint32_t> state_{kFree};
  jack_port_t* port_ = nullptr;
  std::string fullName_;
};

// An output port: one message at a time, posted by the sender and written whole into the buffer
// of the next cycle.
class JackOutputChannel : public JackChannel {
 public:
  // Hands `n` bytes at `bytes` (which stay valid until WaitTaken returns) to the next cycle.
  void Post(const uint8_t* bytes, size_t n) { slot_.Post(bytes, n); }
  // True once a cycle of `client` has written the posted message into the port buffer; false
  // when the write failed, or at `deadline` or the server's end (the message is withdrawn).
  bool WaitTaken(std::chrono::steady_clock::time_point deadline, const JackClient& client);

 private:
  friend class JackClient;
  void Serve(uint32_t frames);
  MessageSlot slot_;
};

// An input port: every event of a cycle goes to the pump of the connection that has it open.
class JackInputChannel : public JackChannel {
 private:
  friend class JackClient;
  void Serve(uint32_t frames);
  InputPump* pump_ = nullptr;
};

class JackClient {
 public:
  // Connects to the running server (never starts one). Nothing, with the reason, when none runs.
  static std::unique_ptr<JackClient> Open(const std::string& name, std::string* error);
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // The name given when opening (the server adds "-NN" when it is taken).
  const std::string& Name() const { return name_; }
  // False once the server has shut down or thrown the client out.
  bool Alive() const { return alive_.load(std::memory_order_acquire); }
  const std::atomic<bool>& AliveFlag() const { return alive_; }

  // Full names ("client:port") of the MIDI ports that carry all of `jackPortFlags`, in the
  // server's order.
  std::vector<std::string> MidiPorts(unsigned long jackPortFlags) const;
  // The port's aliases, which a bridge may use to say which device the port belongs to.
  std::vector<std::string> Aliases(const std::string& fullName) const;
  bool PortExists(const std::string& fullName) const;
  // True when both ports exist and `source` feeds `destination` in the graph that the server
  // runs (jackd answers from that graph, not from the one still to be switched to).
  bool Connected(const std::string& source, const std::string& destination) const;
  // Connects `source` to `destination`, one of them our port and the other `peer`, and waits
  // until the connection carries messages: MMSYSERR_BADDEVICEID when the peer has gone,
  // MIDIERR_NOTREADY when the server does not take the connection up within kSendTimeout.
  MMRESULT Link(const std::string& source, const std::string& destination, const std::string& peer);

  // Ports registered, unregistered or renamed on the server, and the server's end. The server
  // tells only an active client, so a watcher holds the client active with Watch.
  ChangeCount& PortChanges() { return portChanges_; }
  // Keeps the client active until the matching Unwatch; false, and nothing to undo, when the
  // server does not activate it.
  bool Watch();
  void Unwatch();

  // The longest message that fits into one cycle's port buffer as one event.
  size_t MaxMessageBytes() const;

  // Registers a MIDI port and gives it a channel, activating the client for its first port.
  // Nothing when the server refuses or all channels are taken.
  JackOutputChannel* OpenOutput();
  JackInputChannel* OpenInput(InputPump& pump);
  // Detaches the port from the callback, then unregisters it; deactivates the client with the
  // last port. An output's last message has reached its destination once this returns.
  void Close(JackChannel* channel);

 private:
  // q9m-update-cli --all opens one of each per device, up to 20 devices; a closed channel
  // can stay taken for a cycle or two, hence a few more.
  static constexpr size_t kChannels = 24;

  JackClient() = default;
  static int OnProcess(uint32_t frames, void* self);
  static void OnShutdown(void* self);
  static void OnPortRegistration(uint32_t port, int registered, void* self);
  static void OnPortRename(uint32_t port, const char* oldName, const char* newName, void* self);
  // Activates the client for its first port or watcher; with mutex_ held.
  bool Activate();
  // Deactivates it when neither a port nor a watcher is left; with mutex_ held.
  void DeactivateWhenIdle();
  bool Connect(const std::string& source, const std::string& destination);
  template <typename Channel>
  Channel* OpenChannel(std::array<Channel, kChannels>& channels, unsigned long flags,
                       const char* kind);

  std::string name_;
  jack_client_t* client_ = nullptr;
  size_t midiBufferSize_ = 0;
  std::atomic<uint64_t> cycles_{0};
  std::atomic<bool> alive_{true};

  ChangeCount portChanges_;

  std::mutex mutex_;  // opening and closing ports and watches, and with them activation
  uint32_t openPorts_ = 0;
  uint32_t watchers_ = 0;
  bool active_ = false;
  uint64_t lastPort_ = 0;
  std::array<JackOutputChannel, kChannels> outputs_;
  std::array<JackInputChannel, kChannels> inputs_;
};

}  // namespace q9m::platform::jack
