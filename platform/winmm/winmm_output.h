// An output to one winmm port. Each message is copied into a buffer of the connection's own,
// handed to the driver, and counts as sent when the driver marks it done (MOM_DONE), whatever
// the driver's way: the classic USB driver returns from midiOutLongMsg once the bytes are out,
// Windows MIDI Services and wine mark the buffer done before the call returns, other drivers
// do it later from a thread of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/midi_service.h"
#include "platform/winmm/winmm_driver.h"

namespace q9m::platform::winmm {

// How long a driver may take to finish a message of `bytes` bytes before the send fails: a
// generous allowance over the 3,125 bytes per second of a MIDI cable. A driver that has not
// finished by then (a device gone mid-send) is reset, so that the buffer comes back.
uint32_t SendDoneTimeoutMs(uint32_t bytes);

class WinmmOutput final : public OutputConnection {
 public:
  explicit WinmmOutput(std::unique_ptr<OutputDevice> device) : device_(std::move(device)) {}
  ~WinmmOutput() override { Close(); }

  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override;

 private:
  struct Pending {
    std::vector<char> bytes;
    LongBuffer buffer;
  };

  // Sends the message in `pending` and waits until the driver is done with it.
  Result SendAndWait(Pending& pending);

  std::unique_ptr<OutputDevice> device_;
  std::unique_ptr<Pending> pending_ = std::make_unique<Pending>();
  // Buffers that the driver did not give back even after a reset: it may still read them, so
  // they live until the port is closed (and are never freed when the close fails).
  std::vector<std::unique_ptr<Pending>> abandoned_;
};

}  // namespace q9m::platform::winmm
