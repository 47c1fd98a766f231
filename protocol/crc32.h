// CRC-32 over block data: reflected polynomial 0x04C11DB7, register preset to 0xFFFFFFFF and
// no final inversion (CRC-32/JAMCRC, the complement of the common CRC-32).
#pragma once

#include <cstddef>
#include <cstdint>

namespace q9m::protocol {

uint32_t Crc32(const uint8_t* data, size_t n);

}  // namespace q9m::protocol
