// The simulated device's flash before an update ("old firmware") and the layout that a
// complete update leaves, range by range, with the check that names the first wrong byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/flash_plan.h"

namespace q9m::devsim {

inline constexpr uint32_t kFlashSize = firmware::kFlashSize;

// Deterministic content unlike every image. Bytes kVersionAddress.. hold the boot image's
// version ("1.10", image 142's last four bytes) when `versionMatches`, else "1.00".
std::vector<uint8_t> OldFlashContent(bool versionMatches);

struct LayoutRange {
  enum class Content { Image, Erased, Untouched };
  uint32_t begin;
  uint32_t end;  // exclusive
  Content content;
  uint32_t imageId;  // for Content::Image
  std::string name;
};

// The ranges that cover the whole flash after a complete update. With `bootRegionKept` (the
// version matched, so rows 3 and 4 were skipped) the boot region keeps its old content.
std::vector<LayoutRange> ExpectedLayout(bool bootRegionKept);

struct LayoutCheck {
  bool matches = false;
  std::optional<uint32_t> firstMismatch;  // flash address
  std::string range;                      // name of the range holding it
  uint8_t expected = 0;
  uint8_t found = 0;
};

// Compares kFlashSize bytes of `flash` with the layout; `old` is the content before the update.
LayoutCheck CheckLayout(const uint8_t* flash, const uint8_t* old, bool bootRegionKept);

// The whole flash as a complete update leaves it (for tests and for the report).
std::vector<uint8_t> ExpectedFlash(const std::vector<uint8_t>& old, bool bootRegionKept);

}  // namespace q9m::devsim
