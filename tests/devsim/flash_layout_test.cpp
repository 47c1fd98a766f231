#include "devsim/flash_layout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "firmware/firmware_images.h"

namespace q9m::devsim {
namespace {

TEST(FlashLayout, RangesCoverTheFlashInOrder) {
  for (const bool kept : {false, true}) {
    uint32_t next = 0;
    for (const LayoutRange& r : ExpectedLayout(kept)) {
      EXPECT_EQ(r.begin, next) << r.name;
      EXPECT_LT(r.begin, r.end) << r.name;
      if (r.content == LayoutRange::Content::Image) {
        EXPECT_LE(r.end - r.begin, firmware::ImageLength(r.imageId).value_or(0)) << r.name;
      }
      next = r.end;
    }
    EXPECT_EQ(next, kFlashSize);
  }
  EXPECT_EQ(ExpectedLayout(false)[3].begin, 0xDC080u);  // image 129 ends mid-sector
}

TEST(FlashLayout, OldContentDiffersFromTheImagesAndHoldsTheVersion) {
  const std::vector<uint8_t> old = OldFlashContent(false);
  ASSERT_EQ(old.size(), kFlashSize);
  for (const LayoutRange& r : ExpectedLayout(false)) {
    if (r.content != LayoutRange::Content::Image) continue;
    const auto image = firmware::FindImage(r.imageId);
    EXPECT_NE(std::memcmp(old.data() + r.begin, image->bytes, 64), 0) << r.name;
  }
  EXPECT_EQ(std::memcmp(old.data() + firmware::kVersionAddress, "1.00", 4), 0);
  const std::vector<uint8_t> current = OldFlashContent(true);
  const auto boot = firmware::FindImage(firmware::kVersionImageId);
  EXPECT_EQ(std::memcmp(current.data() + firmware::kVersionAddress,
                        boot->bytes + firmware::kVersionImageOffset, 4),
            0);
  // Apart from the version the two start alike, and differ from the boot image.
  EXPECT_EQ(std::memcmp(old.data(), current.data(), firmware::kVersionAddress), 0);
  EXPECT_NE(std::memcmp(current.data(), boot->bytes, 64), 0);
}

TEST(FlashLayout, EveryRangeNamesItsFirstWrongByte) {
  const std::vector<uint8_t> old = OldFlashContent(false);
  for (const bool kept : {false, true}) {
    std::vector<uint8_t> flash = ExpectedFlash(old, kept);
    EXPECT_TRUE(CheckLayout(flash.data(), old.data(), kept).matches);
    for (const LayoutRange& r : ExpectedLayout(kept)) {
      const uint32_t at = r.begin + (r.end - r.begin) / 2 + 3;
      flash[at] ^= 0x01;
      const LayoutCheck check = CheckLayout(flash.data(), old.data(), kept);
      EXPECT_FALSE(check.matches) << r.name;
      EXPECT_EQ(check.firstMismatch, at) << r.name;
      EXPECT_EQ(check.range, r.name);
      EXPECT_EQ(check.found, check.expected ^ 0x01);
      flash[at] ^= 0x01;
    }
  }
}

TEST(FlashLayout, KeptBootRegionIsTheOldContent) {
  const std::vector<uint8_t> old = OldFlashContent(true);
  const std::vector<uint8_t> kept = ExpectedFlash(old, true);
  EXPECT_EQ(std::memcmp(kept.data(), old.data(), 0x23000), 0);
  const std::vector<uint8_t> written = ExpectedFlash(old, false);
  EXPECT_EQ(std::memcmp(written.data(), firmware::FindImage(142)->bytes, 0x23000), 0);
  EXPECT_FALSE(CheckLayout(written.data(), old.data(), true).matches);
  EXPECT_EQ(written[0xDC080], 0xFF);
  EXPECT_EQ(written[0x118FFF], 0xFF);
  EXPECT_EQ(written[0x11A000], old[0x11A000]);
}

}  // namespace
}  // namespace q9m::devsim
