// The six firmware images that the plan writes, built into the program. The build embeds them
// from a folder of files named by id (129.bin ...) after checking each length against
// kImageTable, so a wrong or missing file stops the build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace q9m::firmware {

struct ImageInfo {
  uint32_t id;
  size_t length;
};

inline constexpr std::array<ImageInfo, 6> kImageTable = {{
    {129, 528512},
    {133, 229376},
    {135, 36864},
    {136, 6434816},
    {139, 4096},
    {142, 143360},
}};

constexpr std::optional<size_t> ImageLength(uint32_t id) {
  for (const ImageInfo& info : kImageTable) {
    if (info.id == id) return info.length;
  }
  return std::nullopt;
}

struct FirmwareImage {
  const uint8_t* bytes;  // valid for the life of the process
  size_t length;
};

// The embedded image with this id; nothing for an id outside the table, or when the embedded
// bytes do not have the table's length.
std::optional<FirmwareImage> FindImage(uint32_t id);

}  // namespace q9m::firmware
