// One MIDI output port, chosen by index, with the blocking long send that every message of
// the update protocol goes through.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "midi/port_name.h"
#include "platform/midi_types.h"

namespace q9m::midi {

class MidiOutPort {
 public:
  MidiOutPort() = default;
  ~MidiOutPort();
  MidiOutPort(const MidiOutPort&) = delete;
  MidiOutPort& operator=(const MidiOutPort&) = delete;

  static uint32_t GetDeviceCount();
  // Copies the port's name (empty when the service cannot describe the port) into `buffer`,
  // which holds kPortNameBufferSize bytes (see CopyPortName).
  static void GetDeviceName(uint32_t index, char* buffer);

  // 1 when port `index` is open afterwards (already open with that index, or opened now).
  int Open(uint32_t index);
  // 1 when a port was open and is closed now, 0 when none was open.
  int Close();
  // Sends the message that `header` describes and returns only once the service is done with
  // it: 1 on success, 0 when no port is open or the service refused the message.
  int SendLong(platform::MIDIHDR* header);
  int SendShort(uint32_t message);
  int SendShort(uint32_t status, uint32_t data1, uint32_t data2);

  bool IsOpen() const { return handle_.load() != platform::HMIDIOUT{}; }
  uint32_t DeviceIndex() const { return deviceIndex_; }

 private:
  // Read by the sending threads while the dialog's thread opens and closes the port.
  std::atomic<platform::HMIDIOUT> handle_{};
  uint32_t deviceIndex_ = 0;
};

}  // namespace q9m::midi
