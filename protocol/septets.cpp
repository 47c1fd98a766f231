#include "protocol/septets.h"

namespace q9m::protocol {

void EncodeSeptets(uint32_t value, uint8_t* destination) {
  destination[0] = value & 0x7F;
  destination[1] = (value >> 7) & 0x7F;
  destination[2] = (value >> 14) & 0x7F;
  destination[3] = (value >> 21) & 0x7F;
  destination[4] = (value >> 28) & 0x0F;
}

uint32_t DecodeSeptets(const uint8_t* source) {
  return uint32_t{source[0] & 0x7Fu} | uint32_t{source[1] & 0x7Fu} << 7 |
         uint32_t{source[2] & 0x7Fu} << 14 | uint32_t{source[3] & 0x7Fu} << 21 |
         uint32_t{source[4] & 0x0Fu} << 28;
}

void EncodeCount(uint32_t count, uint8_t* destination) {
  destination[0] = count & 0x7F;
  destination[1] = (count >> 7) & 0x7F;
}

uint32_t DecodeCount(const uint8_t* source) {
  return source[0] + 128u * source[1];
}

}  // namespace q9m::protocol
