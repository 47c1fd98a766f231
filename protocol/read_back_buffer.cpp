#include "protocol/read_back_buffer.h"

#include <cstring>

#include "protocol/crc32.h"
#include "protocol/pack7.h"

namespace q9m::protocol {

void ReadBackBuffer::Reset() {
  std::lock_guard lock(mutex_);
  count_ = 0;
}

size_t ReadBackBuffer::Count() {
  std::lock_guard lock(mutex_);
  return count_;
}

ReadBackBuffer::AppendResult ReadBackBuffer::AppendPacked(const uint8_t* packed,
                                                          size_t packedLength, size_t n,
                                                          uint32_t crc) {
  std::lock_guard lock(mutex_);
  if (n > kReadBackBufferSize - count_ || UnpackedLength(packedLength) != n) {
    return AppendResult::NoRoom;
  }
  uint8_t* at = bytes_.get() + count_;
  Unpack7(at, packed, packedLength);
  // On a mismatch the bytes stay beyond the count, where the next reply overwrites them.
  if (Crc32(at, n) != crc) return AppendResult::CrcMismatch;
  count_ += n;
  return AppendResult::Appended;
}

bool ReadBackBuffer::Read(size_t offset, uint8_t* destination, size_t n) {
  std::lock_guard lock(mutex_);
  if (offset > kReadBackBufferSize || n > kReadBackBufferSize - offset) return false;
  std::memcpy(destination, bytes_.get() + offset, n);
  return true;
}

}  // namespace q9m::protocol
