#include "firmware/firmware_images.h"
#include "firmware/image_origin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace q9m::firmware {
namespace {

FirmwareImage Image(uint32_t id) {
  const auto image = FindImage(id);
  EXPECT_TRUE(image) << "image " << id;
  return image.value_or(FirmwareImage{nullptr, 0});
}

bool Printable(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
  }
  return true;
}

TEST(FirmwareImages, EveryTableEntryIsEmbeddedWithItsLength) {
  const std::array<std::pair<uint32_t, size_t>, 6> expected = {
      {{129, 528512}, {133, 229376}, {135, 36864}, {136, 6434816}, {139, 4096}, {142, 143360}}};
  for (const auto& [id, length] : expected) {
    ASSERT_EQ(ImageLength(id), length) << "image " << id;
    const auto image = FindImage(id);
    ASSERT_TRUE(image) << "image " << id;
    EXPECT_EQ(image->length, length) << "image " << id;
    ASSERT_NE(image->bytes, nullptr);
  }
  EXPECT_FALSE(FindImage(0));
  EXPECT_FALSE(FindImage(130));
  EXPECT_FALSE(ImageLength(141));
}

TEST(FirmwareImages, ImagesDoNotOverlapInMemory) {
  std::set<std::pair<const uint8_t*, const uint8_t*>> ranges;
  for (const ImageInfo& info : kImageTable) {
    const FirmwareImage image = Image(info.id);
    for (const auto& [start, end] : ranges) {
      EXPECT_TRUE(image.bytes + image.length <= start || end <= image.bytes) << "image " << info.id;
    }
    ranges.emplace(image.bytes, image.bytes + image.length);
  }
}

TEST(FirmwareImages, OrientationFacts) {
  const FirmwareImage i129 = Image(129), i142 = Image(142), i136 = Image(136), i139 = Image(139);
  ASSERT_TRUE(i129.bytes && i142.bytes && i136.bytes && i139.bytes);
  EXPECT_EQ(std::memcmp(i129.bytes, i142.bytes, 57), 0) << "129 and 142 share a 57-byte start";
  EXPECT_EQ(i136.bytes[0], 0x55);
  EXPECT_EQ(i136.bytes[1], 0xAA);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(i142.bytes) + i142.length - 4, 4), "1.10");
  // 139: erased flash but for a 4-character and a 16-character text near its end.
  for (size_t i = 0; i < i139.length; ++i) {
    const bool text = (i >= 4064 && i < 4068) || (i >= 4080 && i < 4096);
    if (!text) {
      ASSERT_EQ(i139.bytes[i], 0xFF) << "offset " << i;
    }
  }
  EXPECT_TRUE(Printable(i139.bytes + 4064, 4));
  EXPECT_TRUE(Printable(i139.bytes + 4080, 16));
}

// The build's own fact, independent of the source that reports it; a build with the real
// images allows updates whatever the environment says.
TEST(FirmwareImages, OriginTellsWhichImagesTheBuildCarries) {
#ifdef Q9M_STAND_IN_IMAGES
  EXPECT_TRUE(CarriesStandInImages());
  EXPECT_EQ(ImageOriginText(), "Stand-in firmware 1.10: simulated device only");
#else
  EXPECT_FALSE(CarriesStandInImages());
  EXPECT_EQ(ImageOriginText(), "Firmware 1.10");
  unsetenv(kAllowStandInImagesVariable);
  EXPECT_TRUE(UpdatesAllowed());
#endif
}

#ifdef Q9M_STAND_IN_IMAGES
// Stand-ins must expose an offset error: no 4 KiB block repeats within or across images (139,
// which is mostly FF, aside), and the bytes are spread over all values.
TEST(StandInImages, BlocksAreDistinctAndBytesSpread) {
  std::set<std::string> blocks;
  size_t total = 0;
  std::array<size_t, 256> histogram{};
  for (const ImageInfo& info : kImageTable) {
    if (info.id == 139) continue;
    const FirmwareImage image = Image(info.id);
    for (size_t at = 0; at < image.length; at += 4096) {
      const size_t n = std::min<size_t>(4096, image.length - at);
      blocks.emplace(reinterpret_cast<const char*>(image.bytes) + at, n);
      ++total;
    }
    for (size_t i = 0; i < image.length; ++i) ++histogram[image.bytes[i]];
  }
  EXPECT_EQ(blocks.size(), total);
  const auto [least, most] = std::minmax_element(histogram.begin(), histogram.end());
  EXPECT_GT(*least * 10, *most * 9) << "byte values are not evenly spread";
}

TEST(StandInImages, SharedStartEndsAtByte57) {
  EXPECT_NE(std::memcmp(Image(129).bytes, Image(142).bytes, 58), 0);
}
#endif

}  // namespace
}  // namespace q9m::firmware
