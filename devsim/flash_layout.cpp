#include "devsim/flash_layout.h"

#include <cstring>

#include "firmware/firmware_images.h"
#include "firmware/pseudo_random.h"

namespace q9m::devsim {

namespace {

// Fills `out` with what range `r` must hold, for flash bytes [from, from + n).
void ExpectedBytes(const LayoutRange& r, const uint8_t* old, uint32_t from, size_t n,
                   uint8_t* out) {
  switch (r.content) {
    case LayoutRange::Content::Erased:
      std::memset(out, 0xFF, n);
      break;
    case LayoutRange::Content::Untouched:
      std::memcpy(out, old + from, n);
      break;
    case LayoutRange::Content::Image: {
      const auto image = firmware::FindImage(r.imageId);
      const size_t offset = from - r.begin;
      if (image && offset + n <= image->length) {
        std::memcpy(out, image->bytes + offset, n);
      } else {
        std::memset(out, 0, n);  // no such image: nothing can match by accident below
      }
      break;
    }
  }
}

}  // namespace

std::vector<uint8_t> OldFlashContent(bool versionMatches) {
  std::vector<uint8_t> flash(kFlashSize);
  firmware::FillPseudoRandom(flash.data(), flash.size(), 0x0DF1A5400000000ull);
  const char* version = "1.00";
  const auto reference = firmware::FindImage(firmware::kVersionImageId);
  if (versionMatches && reference) {
    std::memcpy(flash.data() + firmware::kVersionAddress,
                reference->bytes + firmware::kVersionImageOffset, firmware::kVersionLength);
  } else {
    std::memcpy(flash.data() + firmware::kVersionAddress, version, firmware::kVersionLength);
  }
  return flash;
}

std::vector<LayoutRange> ExpectedLayout(bool bootRegionKept) {
  using C = LayoutRange::Content;
  const uint32_t end129 = 0x5B000 + static_cast<uint32_t>(firmware::ImageLength(129).value_or(0));
  std::vector<LayoutRange> layout;
  if (bootRegionKept) {
    layout.push_back({0x0, 0x23000, C::Untouched, 0, "boot region (kept, version matched)"});
  } else {
    layout.push_back({0x0, 0x23000, C::Image, 142, "image 142 (boot)"});
  }
  layout.push_back({0x23000, 0x5B000, C::Image, 133, "image 133"});
  layout.push_back({0x5B000, end129, C::Image, 129, "image 129"});
  layout.push_back({end129, 0x119000, C::Erased, 0, "erased rest after image 129"});
  layout.push_back({0x119000, 0x11A000, C::Image, 139, "image 139"});
  layout.push_back({0x11A000, 0x1D4000, C::Untouched, 0, "untouched region"});
  layout.push_back({0x1D4000, 0x1DD000, C::Image, 135, "image 135"});
  layout.push_back({0x1DD000, kFlashSize, C::Image, 136, "image 136"});
  return layout;
}

LayoutCheck CheckLayout(const uint8_t* flash, const uint8_t* old, bool bootRegionKept) {
  LayoutCheck check;
  std::vector<uint8_t> expected(64 * 1024);
  for (const LayoutRange& r : ExpectedLayout(bootRegionKept)) {
    for (uint32_t at = r.begin; at < r.end; at += static_cast<uint32_t>(expected.size())) {
      const size_t n = std::min<size_t>(expected.size(), r.end - at);
      ExpectedBytes(r, old, at, n, expected.data());
      if (std::memcmp(flash + at, expected.data(), n) == 0) continue;
      size_t i = 0;
      while (flash[at + i] == expected[i]) ++i;
      check.firstMismatch = at + static_cast<uint32_t>(i);
      check.range = r.name;
      check.expected = expected[i];
      check.found = flash[at + i];
      return check;
    }
  }
  check.matches = true;
  return check;
}

std::vector<uint8_t> ExpectedFlash(const std::vector<uint8_t>& old, bool bootRegionKept) {
  std::vector<uint8_t> flash(kFlashSize);
  for (const LayoutRange& r : ExpectedLayout(bootRegionKept)) {
    ExpectedBytes(r, old.data(), r.begin, r.end - r.begin, flash.data() + r.begin);
  }
  return flash;
}

}  // namespace q9m::devsim
