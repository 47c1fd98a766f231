// Where the dispatcher appends the data that the device returns for a read request. The
// dispatcher writes on the timer thread; the worker resets it and reads it on its own thread.
// A lock (never contended in a correct exchange) keeps a late or unsolicited reply from
// racing with the worker's comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace q9m::protocol {

inline constexpr size_t kReadBackBufferSize = 5'824'512;

class ReadBackBuffer {
 public:
  enum class AppendResult { Appended, CrcMismatch, NoRoom };

  ReadBackBuffer() : bytes_(std::make_unique<uint8_t[]>(kReadBackBufferSize)) {}

  void Reset();
  size_t Count();
  // Unpacks `packedLength` bytes (which must be PackedLength(n)) directly into the buffer after
  // the bytes counted so far and counts them only when their Crc32 equals `crc`. Writes nothing
  // when the n bytes would not fit.
  AppendResult AppendPacked(const uint8_t* packed, size_t packedLength, size_t n, uint32_t crc);
  // Copies `n` bytes from `offset` (counted or not); false when that lies outside the buffer.
  bool Read(size_t offset, uint8_t* destination, size_t n);

 private:
  std::mutex mutex_;
  std::unique_ptr<uint8_t[]> bytes_;
  size_t count_ = 0;
};

}  // namespace q9m::protocol
