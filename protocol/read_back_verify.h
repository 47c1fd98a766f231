// Comparing what the device's flash returned with what was written there, sector by sector.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace q9m::protocol {

struct SectorMismatch {
  uint32_t sector;        // the sector's first address
  uint32_t firstAddress;  // the first differing byte in it
};

// The address of the first of `n` bytes (at `address` on) in which `found` differs from
// `expected`, or nothing when they are equal.
std::optional<uint32_t> FirstDifference(uint32_t address, const uint8_t* found,
                                        const uint8_t* expected, uint32_t n);

// Adds every sector of `sectorSize` bytes (a power of two) in which the bytes differ, each
// sector once even across calls, in the order found.
void CollectMismatchedSectors(uint32_t address, const uint8_t* found, const uint8_t* expected,
                              uint32_t n, uint32_t sectorSize,
                              std::vector<SectorMismatch>& sectors);

}  // namespace q9m::protocol
