// Finding the sectors to repair from what a read-back returned.
#include "protocol/read_back_verify.h"

#include <gtest/gtest.h>

namespace q9m::protocol {
namespace {

TEST(ReadBackVerify, EachDifferingSectorOnceWithItsFirstDifference) {
  std::vector<uint8_t> expected(3 * 4096, 0x5A);
  std::vector<uint8_t> found = expected;
  found[0x0FFF] = 0;  // last byte of sector 0x10000
  found[0x1000] = 0;  // first byte of sector 0x11000 ...
  found[0x1800] = 0;  // ... and another in it
  std::vector<SectorMismatch> sectors;
  // Read in two pieces that split sector 0x11000: it is still listed once.
  CollectMismatchedSectors(0x10000, found.data(), expected.data(), 0x1400, 4096, sectors);
  CollectMismatchedSectors(0x11400, found.data() + 0x1400, expected.data() + 0x1400,
                           static_cast<uint32_t>(found.size()) - 0x1400, 4096, sectors);
  ASSERT_EQ(sectors.size(), 2u);
  EXPECT_EQ(sectors[0].sector, 0x10000u);
  EXPECT_EQ(sectors[0].firstAddress, 0x10FFFu);
  EXPECT_EQ(sectors[1].sector, 0x11000u);
  EXPECT_EQ(sectors[1].firstAddress, 0x11000u);

  EXPECT_EQ(FirstDifference(0x10000, expected.data(), expected.data(), 4096), std::nullopt);
  EXPECT_EQ(FirstDifference(0x10000, found.data() + 0x1000, expected.data() + 0x1000, 4096),
            std::optional<uint32_t>(0x10000));
}

}  // namespace
}  // namespace q9m::protocol
