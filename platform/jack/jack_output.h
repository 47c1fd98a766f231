// An output to one port of a JACK server: a port of our own, registered through RtMidi and
// connected to the destination, that sends each message whole or reports that it could not.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "platform/jack/jack_core.h"
#include "platform/midi_service.h"

namespace q9m::platform::jack {

class JackOutputConnection final : public OutputConnection {
 public:
  JackOutputConnection(std::shared_ptr<JackCore> core, std::string destination)
      : core_(std::move(core)), destination_(std::move(destination)) {}
  ~JackOutputConnection() override { Close(); }

  // Registers a port through RtMidi and connects it to `destination`.
  MMRESULT Open();
  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override;

 private:
  struct InFlight {
    uint64_t writtenAt;  // the monitor's count just after the write
    size_t bytes;
  };

  // The device is there as long as our port still feeds its port; when it goes away, JACK
  // unregisters its port and the connection with it.
  bool Linked() const;
  // Waits until the messages that may still be in RtMidi's ring leave room for `n` more bytes,
  // so that RtMidi neither drops the message nor spins waiting for room itself.
  bool WaitForRoom(size_t n, std::chrono::steady_clock::time_point deadline);
  MMRESULT Send(const uint8_t* bytes, size_t n, bool waitUntilDelivered);

  std::shared_ptr<JackCore> core_;
  const std::string destination_;
  std::string own_;
  RtMidiErrorSink errors_;
  std::unique_ptr<RtMidiOut> out_;
  std::deque<InFlight> inFlight_;
};

}  // namespace q9m::platform::jack
