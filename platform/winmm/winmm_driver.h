// The Windows multimedia MIDI calls (midiIn*, midiOut*) as the winmm backend uses them, in plain
// types. The system's own layer (winmm_system_driver.cpp) is the only code that includes
// <windows.h>: that header defines MIDIHDR, MMSYSERR_NOERROR and the like as macros and types
// of its own, which would clash with the service's. Tests put a driver of their own in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace q9m::platform::winmm {

// An MMRESULT as the system returns it.
using Result = uint32_t;
inline constexpr Result kNoError = 0;
inline constexpr Result kError = 1;
inline constexpr Result kBadDeviceId = 2;
inline constexpr Result kAllocated = 4;
inline constexpr Result kNoDriver = 6;
inline constexpr Result kNoMemory = 7;
inline constexpr Result kUnprepared = 64;
inline constexpr Result kStillPlaying = 65;
inline constexpr Result kNotReady = 67;
inline constexpr Result kNoDevice = 68;

// One buffer of System Exclusive bytes that the backend owns. Between Prepare and Unprepare the
// driver layer keeps the system's header for it in `system`.
struct LongBuffer {
  char* data = nullptr;
  uint32_t length = 0;
  uint32_t recorded = 0;  // input: the bytes that the driver put there, once returned
  void* system = nullptr;
};

// What the system says about one port.
struct PortCaps {
  std::string name;  // the product name, in UTF-8 (read through the wide-character call)
  // The device interface path when the driver gives one (DRV_QUERYDEVICEINTERFACE): it names
  // the device uniquely and stays the same while the device stays plugged in.
  std::string interfacePath{};
};

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  virtual Result Prepare(LongBuffer& buffer) = 0;
  // midiOutLongMsg. Depending on the driver it returns at once or once the bytes are out; in
  // every case the buffer counts as sent only once the driver marks it done.
  virtual Result Send(LongBuffer& buffer) = 0;
  // True once the driver has marked the buffer done (MOM_DONE); waits for that at most
  // `milliseconds`.
  virtual bool WaitDone(LongBuffer& buffer, uint32_t milliseconds) = 0;
  virtual Result Unprepare(LongBuffer& buffer) = 0;
  virtual Result SendShort(uint32_t packed) = 0;
  // midiOutReset: the driver gives back, marked done, every buffer it still holds. It also
  // sends "all notes off" on every channel (Windows and wine do).
  virtual Result Reset() = 0;
  virtual Result Close() = 0;
};

// What an open input delivers. Called on a thread of the driver layer's own (the system posts
// its notices to that thread's message queue), never inside the system's callback, so the
// receiver may call the device (AddBuffer) from here. Calls come one at a time, in order.
class InputEvents {
 public:
  virtual ~InputEvents() = default;
  // MIM_DATA: a packed short message, status in bits 0 to 7.
  virtual void ShortData(uint32_t packed) = 0;
  // MIM_LONGDATA (or MIM_LONGERROR, with `bad`): the driver gives a buffer back.
  virtual void LongData(LongBuffer& buffer, bool bad) = 0;
};

class InputDevice {
 public:
  virtual ~InputDevice() = default;
  virtual Result Prepare(LongBuffer& buffer) = 0;
  virtual Result AddBuffer(LongBuffer& buffer) = 0;
  virtual Result Start() = 0;
  virtual Result Stop() = 0;
  // midiInReset: every buffer still held comes back through LongData, marked done, before the
  // call returns or soon after it.
  virtual Result Reset() = 0;
  virtual Result Unprepare(LongBuffer& buffer) = 0;
  // Closes the port; once it returns, no InputEvents call runs or follows.
  virtual Result Close() = 0;
};

class Driver {
 public:
  virtual ~Driver() = default;
  virtual uint32_t OutputCount() = 0;
  virtual std::optional<PortCaps> OutputCaps(uint32_t id) = 0;
  virtual std::unique_ptr<OutputDevice> OpenOutput(uint32_t id, Result& error) = 0;
  virtual uint32_t InputCount() = 0;
  virtual std::optional<PortCaps> InputCaps(uint32_t id) = 0;
  virtual std::unique_ptr<InputDevice> OpenInput(uint32_t id, InputEvents& events,
                                                 Result& error) = 0;
};

// The system's winmm. Only on Windows.
std::unique_ptr<Driver> MakeSystemDriver();

}  // namespace q9m::platform::winmm
