#include "protocol/pack7.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace q9m::protocol {

namespace {

// Header bits for a full group: bit (6 - j) holds bit 7 of byte j.
constexpr std::array<uint8_t, 128> MakeReversed7() {
  std::array<uint8_t, 128> t{};
  for (int m = 0; m < 128; ++m) {
    for (int j = 0; j < 7; ++j) t[m] |= static_cast<uint8_t>(((m >> j) & 1) << (6 - j));
  }
  return t;
}
constexpr std::array<uint8_t, 128> kReversed7 = MakeReversed7();

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

void Store64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

// Packs one group of 1 to 7 bytes, byte by byte.
void PackGroup(uint8_t* destination, const uint8_t* source, size_t k) {
  uint8_t header = 0;
  for (size_t j = 0; j < k; ++j) {
    header |= static_cast<uint8_t>((source[j] >> 7) << (6 - j));
    destination[1 + j] = source[j] & 0x7F;
  }
  destination[0] = header;
}

}  // namespace

size_t Pack7(uint8_t* destination, const uint8_t* source, size_t n) {
  size_t in = 0, out = 0;
  // Full groups, eight bytes at a time: the top bits gathered with one multiply, the low bits
  // masked and stored together. Each 8-byte load and store stays within the group that follows,
  // so this runs while at least one more byte follows the group in both buffers.
  for (; in + 8 <= n; in += 7, out += 8) {
    const uint64_t group = Load64(source + in) & 0x00FFFFFFFFFFFFFFull;
    const uint64_t tops = ((group & 0x0080808080808080ull) * 0x0002040810204081ull) >> 56;
    destination[out] = kReversed7[tops & 0x7F];
    Store64(destination + out + 1, group & 0x007F7F7F7F7F7F7Full);
  }
  for (; in < n; in += 7, out += 8)
    PackGroup(destination + out, source + in, std::min<size_t>(7, n - in));
  return PackedLength(n);
}

size_t Unpack7(uint8_t* destination, const uint8_t* source, size_t packedLength) {
  size_t written = 0;
  for (size_t start = 0; start < packedLength; start += 8) {
    const size_t k = std::min<size_t>(7, packedLength - start - 1);
    const uint8_t header = source[start];
    for (size_t i = 0; i < k; ++i) {
      const uint8_t high = ((header >> (6 - i)) & 1) << 7;
      destination[written++] = source[start + 1 + i] | high;
    }
  }
  return written;
}

}  // namespace q9m::protocol
