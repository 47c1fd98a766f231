// Deterministic filler bytes: the stand-in firmware images are made of them (by the build-time
// tool q9m-stand-in-images), and so is the simulated device's flash before an update. Every
// machine produces the same bytes; header-only, so that the build-time tool needs no library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q9m::firmware {

constexpr uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Fills bytes[0, n) from `key`: byte i is byte i % 8, least significant first, of
// SplitMix64(key ^ (i / 8)).
inline void FillPseudoRandom(uint8_t* bytes, size_t n, uint64_t key) {
  for (size_t i = 0; i < n; i += 8) {
    const uint64_t v = SplitMix64(key ^ (i / 8));
    for (size_t k = 0; k < 8 && i + k < n; ++k) bytes[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
}

}  // namespace q9m::firmware
