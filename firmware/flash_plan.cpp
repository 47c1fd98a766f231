#include "firmware/flash_plan.h"

#include "firmware/firmware_images.h"

namespace q9m::firmware {

const std::array<FlashStep, 12> FlashPlan = {{
    {kEraseStep, 0x119000, 0x1000, 0},
    {kEraseStep, 0x23000, 0x38000, 0},
    {kWriteStep, 0x23000, 0, 133},
    {kEraseStep, 0x0, 0x23000, 0},
    {kWriteStep, 0x0, 0, 142},
    {kEraseStep, 0x1D4000, 0x9000, 0},
    {kWriteStep, 0x1D4000, 0x9000, 135},
    {kEraseStep, 0x5B000, 0xBE000, 0},
    {kWriteStep, 0x5B000, 0, 129},
    {kEraseStep, 0x1DD000, 0x623000, 0},
    {kWriteStep, 0x1DD000, 0x623000, 136},
    {kWriteStep, 0x119000, 0, 139},
}};

const std::array<DeviceCode, 2> AcceptedDeviceCodes = {{
    {0x4A, 0x00, 0x00, 0x00},
    {0x4B, 0x00, 0x00, 0x00},
}};

bool IsAccepted(const DeviceCode& code) {
  for (const DeviceCode& accepted : AcceptedDeviceCodes) {
    if (accepted == code) return true;
  }
  return false;
}

uint32_t WriteLength(const FlashStep& step) {
  if (step.kind != kWriteStep) return 0;
  if (step.size != 0) return step.size;
  const auto length = ImageLength(step.imageId);
  return length ? static_cast<uint32_t>(*length) : 0;
}

uint32_t BlockCount(const FlashStep& step) {
  return (WriteLength(step) + kBlockBytes - 1) / kBlockBytes;
}

uint32_t PlanBlockCount(bool versionMatches) {
  uint32_t blocks = 0;
  for (size_t row = 0; row < FlashPlan.size(); ++row) {
    if (versionMatches && SkippedWhenVersionMatches(row)) continue;
    blocks += BlockCount(FlashPlan[row]);
  }
  return blocks;
}

}  // namespace q9m::firmware
