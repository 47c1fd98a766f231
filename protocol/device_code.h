// The four identity bytes of the connected device. Written by the worker after an
// identification and read by every send and by the reply dispatcher on the timer thread, so
// the bytes travel as one atomic word and are never seen half-written.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/messages.h"

namespace q9m::protocol {

class DeviceCode {
 public:
  DeviceCodeBytes Get() const {
    const uint32_t v = packed_.load(std::memory_order_acquire);
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
  }
  void Set(const DeviceCodeBytes& b) {
    packed_.store(
        uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24,
        std::memory_order_release);
  }
  // Byte 0: the model byte that every vendor message carries at offset 3.
  uint8_t ModelByte() const { return Get()[0]; }

 private:
  std::atomic<uint32_t> packed_{0};
};

}  // namespace q9m::protocol
