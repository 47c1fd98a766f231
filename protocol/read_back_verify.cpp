#include "protocol/read_back_verify.h"

#include <algorithm>

namespace q9m::protocol {

std::optional<uint32_t> FirstDifference(uint32_t address, const uint8_t* found,
                                        const uint8_t* expected, uint32_t n) {
  const auto differ = std::mismatch(found, found + n, expected);
  if (differ.first == found + n) return std::nullopt;
  return address + static_cast<uint32_t>(differ.first - found);
}

void CollectMismatchedSectors(uint32_t address, const uint8_t* found, const uint8_t* expected,
                              uint32_t n, uint32_t sectorSize,
                              std::vector<SectorMismatch>& sectors) {
  uint32_t at = 0;
  while (at < n) {
    const auto differ = FirstDifference(address + at, found + at, expected + at, n - at);
    if (!differ) return;
    const uint32_t sector = *differ & ~(sectorSize - 1);
    if (std::none_of(sectors.begin(), sectors.end(),
                     [&](const SectorMismatch& m) { return m.sector == sector; })) {
      sectors.push_back({sector, *differ});
    }
    // The rest of this sector is rewritten anyway.
    at = sector + sectorSize - address;
  }
}

}  // namespace q9m::protocol
