#include "firmware/firmware_images.h"

// Start and end of each image, defined by the generated assembler file that .incbin's them.
#define Q9M_IMAGE_SYMBOLS(id)                                 \
  extern "C" const uint8_t q9m_firmware_image_##id##_start[]; \
  extern "C" const uint8_t q9m_firmware_image_##id##_end[];
Q9M_IMAGE_SYMBOLS(129)
Q9M_IMAGE_SYMBOLS(133)
Q9M_IMAGE_SYMBOLS(135)
Q9M_IMAGE_SYMBOLS(136)
Q9M_IMAGE_SYMBOLS(139)
Q9M_IMAGE_SYMBOLS(142)
#undef Q9M_IMAGE_SYMBOLS

namespace q9m::firmware {

namespace {

struct Embedded {
  uint32_t id;
  const uint8_t* start;
  const uint8_t* end;
};

#define Q9M_IMAGE(id) \
  { id, q9m_firmware_image_##id##_start, q9m_firmware_image_##id##_end }
const Embedded kEmbedded[] = {Q9M_IMAGE(129), Q9M_IMAGE(133), Q9M_IMAGE(135),
                              Q9M_IMAGE(136), Q9M_IMAGE(139), Q9M_IMAGE(142)};
#undef Q9M_IMAGE

}  // namespace

std::optional<FirmwareImage> FindImage(uint32_t id) {
  const auto expected = ImageLength(id);
  if (!expected) return std::nullopt;
  for (const Embedded& image : kEmbedded) {
    if (image.id != id) continue;
    const size_t length = static_cast<size_t>(image.end - image.start);
    if (length != *expected) return std::nullopt;
    return FirmwareImage{image.start, length};
  }
  return std::nullopt;
}

}  // namespace q9m::firmware
