// An input from one winmm port. The port holds kInputBuffers prepared buffers; each buffer that
// the driver gives back is handed to the receiver (which joins a System Exclusive message that
// spans several buffers) and queued again at once, on the driver layer's thread that received
// the notice. So the driver finds a free buffer for every message of a burst up to
// kInputBuffers long (a driver drops what arrives while it holds none), even while the
// receiver's owner is slow.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/midi_service.h"
#include "platform/winmm/winmm_driver.h"

namespace q9m::platform::winmm {

inline constexpr size_t kInputBuffers = 32;
inline constexpr uint32_t kInputBufferBytes = 8192;

class WinmmInput final : public InputSource, private InputEvents {
 public:
  explicit WinmmInput(InputReceiver& receiver) : receiver_(receiver) {}
  ~WinmmInput() override { Close(); }

  // Opens device `id`, queues every buffer and starts input.
  MMRESULT Open(Driver& driver, uint32_t id);
  void Close() override;

 private:
  struct Slot {
    std::unique_ptr<char[]> bytes;
    LongBuffer buffer;
    bool prepared = false;
    bool queued = false;  // held by the driver
  };

  void ShortData(uint32_t packed) override;
  void LongData(LongBuffer& buffer, bool bad) override;
  // Takes the slot as given back; with `requeue`, hands it to the driver again. Under mutex_.
  void Returned(Slot& slot, bool requeue);
  Slot* SlotOf(const LongBuffer& buffer);

  InputReceiver& receiver_;
  std::unique_ptr<InputDevice> device_;
  std::array<Slot, kInputBuffers> slots_;

  std::mutex mutex_;
  std::condition_variable slotReturned_;
  bool closing_ = false;
};

}  // namespace q9m::platform::winmm
