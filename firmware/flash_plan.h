// The flash plan that an update runs, the device codes it accepts, and the version check that
// decides whether the boot region (rows 3 and 4) is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace q9m::firmware {

using DeviceCode = std::array<uint8_t, 4>;

// FlashStep::kind
inline constexpr uint32_t kEraseStep = 1;  // erase [address, address + size)
inline constexpr uint32_t kWriteStep = 2;  // write the image (its first `size` bytes) at address

struct FlashStep {
  uint32_t kind;
  uint32_t address;
  uint32_t size;  // bytes; 0 for a write means the whole image
  uint32_t imageId;
};

// The rows in the order the host runs them.
extern const std::array<FlashStep, 12> FlashPlan;

// The devices the updater talks to, as their identity reply gives them (bytes 6 to 9).
extern const std::array<DeviceCode, 2> AcceptedDeviceCodes;

inline constexpr uint32_t kFlashSize = 8u << 20;
inline constexpr uint32_t kBlockBytes = 4096;  // the largest WriteBlock

// Before row 0 the host reads these bytes from flash. When they equal the reference image's
// bytes at kVersionImageOffset, the device already runs that boot code, and the rows from
// kFirstVersionRow to kLastVersionRow (its erase and write) are skipped.
inline constexpr uint32_t kVersionAddress = 0x22FFC;
inline constexpr uint32_t kVersionLength = 4;
inline constexpr uint32_t kVersionImageId = 142;
inline constexpr uint32_t kVersionImageOffset = 0x22FFC;
inline constexpr size_t kFirstVersionRow = 3;
inline constexpr size_t kLastVersionRow = 4;

inline constexpr bool SkippedWhenVersionMatches(size_t row) {
  return row >= kFirstVersionRow && row <= kLastVersionRow;
}

bool IsAccepted(const DeviceCode& code);

// Bytes that a write step sends: its size, or its image's whole length when the size is 0.
// 0 for an erase step or an unknown image.
uint32_t WriteLength(const FlashStep& step);
// WriteBlocks that the step takes (blocks of at most kBlockBytes); 0 for an erase step.
uint32_t BlockCount(const FlashStep& step);
// WriteBlocks of the whole plan, without rows 3 and 4 when `versionMatches`.
uint32_t PlanBlockCount(bool versionMatches);

}  // namespace q9m::firmware
