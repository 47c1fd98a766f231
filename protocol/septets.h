// 32-bit values as five septets and 14-bit counts as two septets, least significant first.
#pragma once

#include <cstdint>

namespace q9m::protocol {

inline constexpr int kSeptetIntegerLength = 5;
inline constexpr int kSeptetCountLength = 2;

// Writes five bytes; the fifth holds bits 28 to 31, so it is at most 0x0F.
void EncodeSeptets(uint32_t value, uint8_t* destination);
// Reads five bytes; the upper three bits of the fifth are ignored.
uint32_t DecodeSeptets(const uint8_t* source);

// Writes count & 0x7F, then (count >> 7) & 0x7F.
void EncodeCount(uint32_t count, uint8_t* destination);
uint32_t DecodeCount(const uint8_t* source);

}  // namespace q9m::protocol
