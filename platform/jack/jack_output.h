// An output to one port of a JACK server: a client and port of our own, connected to the
// destination, whose process callback puts each message whole into the cycle's port buffer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/jack/jack_core.h"
#include "platform/midi_service.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace q9m::platform::jack {

class JackOutputConnection final : public OutputConnection {
 public:
  JackOutputConnection(std::shared_ptr<JackCore> core, std::string destination)
      : core_(std::move(core)), destination_(std::move(destination)) {}
  ~JackOutputConnection() override { Close(); }

  // Opens a client of our own with one MIDI output port and connects it to `destination`.
  MMRESULT Open();
  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override;

 private:
  // The one message handed to the process callback. Sends are never concurrent on one
  // connection and each waits until its message is taken, so one slot is enough.
  enum Slot : uint32_t { kEmpty, kPosted, kWriting, kTaken };

  static int OnProcess(uint32_t frames, void* self);
  // The device is there as long as our port still feeds its port; when it goes away, JACK
  // unregisters its port and the connection with it.
  bool Linked() const;
  // Hands the message to the next cycle and waits until the process callback has written it
  // into the port buffer, or until kSendTimeout has passed (then the message is withdrawn).
  MMRESULT Send(const uint8_t* bytes, size_t n);
  bool WaitWhileSlotIs(uint32_t state, std::chrono::steady_clock::time_point deadline);

  std::shared_ptr<JackCore> core_;
  const std::string destination_;
  std::string own_;
  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;

  // Written by the sender before it posts the slot, read by the process callback after it has
  // claimed the slot (kPosted -> kWriting); the sender withdraws only a slot still kPosted.
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
  // Process cycles run so far, and the one that took the last message (0: none yet). A message
  // reaches the destination by the end of the cycle that took it, so Close waits for the next.
  std::atomic<uint64_t> cycles_{0};
  std::atomic<uint64_t> takenIn_{0};
  alignas(uint32_t) uint32_t slot_ = kEmpty;  // accessed through std::atomic_ref; a futex word
};

}  // namespace q9m::platform::jack
