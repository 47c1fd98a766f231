#include "platform/winmm/winmm_input.h"

#include <algorithm>
#include <chrono>

namespace q9m::platform::winmm {

namespace {

// A reset gives every buffer back at once; this bounds a driver that does not (a device gone).
constexpr auto kResetReturnTimeout = std::chrono::seconds(2);

}  // namespace

MMRESULT WinmmInput::Open(Driver& driver, uint32_t id) {
  Result error = kError;
  device_ = driver.OpenInput(id, *this, error);
  if (!device_) return error != kNoError ? error : kError;
  std::unique_lock lock(mutex_);
  for (Slot& slot : slots_) {
    slot.bytes = std::make_unique<char[]>(kInputBufferBytes);
    slot.buffer = LongBuffer{slot.bytes.get(), kInputBufferBytes};
    if ((error = device_->Prepare(slot.buffer)) != kNoError) break;
    slot.prepared = true;
    if ((error = device_->AddBuffer(slot.buffer)) != kNoError) break;
    slot.queued = true;
  }
  if (error == kNoError) error = device_->Start();
  lock.unlock();
  if (error != kNoError) Close();
  return error;
}

void WinmmInput::ShortData(uint32_t packed) {
  const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                            static_cast<uint8_t>(packed >> 16)};
  if (bytes[0] < 0x80) return;  // drivers deliver every short message with its status
  receiver_.Receive(bytes, ShortMessageLength(bytes[0]));
}

void WinmmInput::LongData(LongBuffer& buffer, bool bad) {
  Slot* slot = SlotOf(buffer);
  if (slot == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    if (closing_) {
      Returned(*slot, false);
      return;
    }
  }
  // A buffer cut off by an error holds no message to keep; the receiver drops the rest too.
  if (!bad && buffer.recorded > 0) {
    receiver_.Receive(reinterpret_cast<const uint8_t*>(buffer.data),
                      std::min(buffer.recorded, buffer.length));
  }
  std::lock_guard lock(mutex_);
  Returned(*slot, !closing_);
}

void WinmmInput::Returned(Slot& slot, bool requeue) {
  slot.queued = false;
  slot.buffer.recorded = 0;
  if (requeue && device_->AddBuffer(slot.buffer) == kNoError) {
    slot.queued = true;
    return;
  }
  slotReturned_.notify_all();
}

WinmmInput::Slot* WinmmInput::SlotOf(const LongBuffer& buffer) {
  for (Slot& slot : slots_) {
    if (&slot.buffer == &buffer) return &slot;
  }
  return nullptr;
}

void WinmmInput::Close() {
  {
    std::lock_guard lock(mutex_);
    if (!device_ || closing_) return;
    closing_ = true;  // from here on, no buffer goes back to the driver
  }
  device_->Stop();
  const bool reset = device_->Reset() == kNoError;
  std::unique_lock lock(mutex_);
  const auto allBack = [this] {
    for (const Slot& slot : slots_) {
      if (slot.queued) return false;
    }
    return true;
  };
  const bool back = reset && slotReturned_.wait_for(lock, kResetReturnTimeout, allBack);
  for (Slot& slot : slots_) {
    if (slot.prepared && !slot.queued && device_->Unprepare(slot.buffer) == kNoError) {
      slot.prepared = false;
    }
  }
  lock.unlock();
  const bool closed = device_->Close() == kNoError;
  // Gone with the device: the driver layer's thread, so that no notice runs after this.
  device_.reset();
  if (!back || !closed) {
    // The driver may still write into buffers that it holds: they are never freed.
    for (Slot& slot : slots_) {
      if (slot.queued || !closed) static_cast<void>(slot.bytes.release());
    }
  }
}

}  // namespace q9m::platform::winmm
