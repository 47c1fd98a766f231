// Arbitrary bytes as seven-bit data: each group of up to seven bytes becomes a header byte
// holding their top bits (bit 6 for the first byte) followed by their low seven bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q9m::protocol {

// P(n): the packed length of n bytes, n + ceil(n / 7).
constexpr size_t PackedLength(size_t n) {
  return 8 * (n / 7) + (n % 7 != 0 ? n % 7 + 1 : 0);
}

// Writes PackedLength(n) bytes and returns that length.
size_t Pack7(uint8_t* destination, const uint8_t* source, size_t n);
// Reads exactly `packedLength` bytes, writes the data bytes and returns how many it wrote.
// A last group of m bytes (m < 8) yields m - 1 data bytes.
size_t Unpack7(uint8_t* destination, const uint8_t* source, size_t packedLength);
// The number of data bytes that Unpack7 writes for `packedLength` packed bytes.
constexpr size_t UnpackedLength(size_t packedLength) {
  return 7 * (packedLength / 8) + (packedLength % 8 != 0 ? packedLength % 8 - 1 : 0);
}

}  // namespace q9m::protocol
