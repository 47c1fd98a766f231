// The state that the worker, the reply dispatcher and the dialog share during an update.
//
// `ReplyEvent` is what orders them: the dispatcher writes ReplyStatus (and the received code
// or the read-back data) and then signals; the worker reads only after its wait ended
// signalled. The fields are atomic or locked anyway, so a late reply that lands while the
// worker reads is never a data race.
#pragma once

#include <atomic>

#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "platform/sync.h"
#include "protocol/device_code.h"
#include "protocol/read_back_buffer.h"
#include "protocol/sysex_sender.h"

namespace q9m::protocol {

// ReplyStatus values with a meaning of their own.
inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusFailed = 1;
inline constexpr int kStatusNotInUpdateMode = 11;
inline constexpr int kStatusClosing = 255;  // written by the dialog only

// What lives as long as the process: the identified device, and the read-back data.
struct DeviceState {
  DeviceCode deviceCode;
  ReadBackBuffer readBack;

  // The one instance of the running program.
  static DeviceState& Process();
};

// What the dialog holds for as long as its window lives.
class UpdateContext {
 public:
  UpdateContext(midi::MidiInPort& inPort, midi::MidiOutPort& outPort, DeviceState& device)
      : inPort(inPort), outPort(outPort), device(device), sender(outPort, device.deviceCode) {}

  midi::MidiInPort& inPort;
  midi::MidiOutPort& outPort;
  DeviceState& device;
  SysExSender sender;

  std::atomic<int> replyStatus{kStatusSuccess};
  platform::AutoResetEvent replyEvent;
  DeviceCode receivedDeviceCode;

  // Raised when the window closes: the worker stops at its next step and never reports again.
  platform::StopSignal closing;
};

}  // namespace q9m::protocol
