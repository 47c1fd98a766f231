#include "firmware/flash_plan.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "firmware/firmware_images.h"

namespace q9m::firmware {
namespace {

TEST(FlashPlan, RowsInTheOrderTheHostRunsThem) {
  const std::vector<std::pair<uint32_t, uint32_t>> kindAndAddress = {
      {kEraseStep, 0x119000}, {kEraseStep, 0x23000},  {kWriteStep, 0x23000},
      {kEraseStep, 0x0},      {kWriteStep, 0x0},      {kEraseStep, 0x1D4000},
      {kWriteStep, 0x1D4000}, {kEraseStep, 0x5B000},  {kWriteStep, 0x5B000},
      {kEraseStep, 0x1DD000}, {kWriteStep, 0x1DD000}, {kWriteStep, 0x119000}};
  ASSERT_EQ(FlashPlan.size(), kindAndAddress.size());
  for (size_t row = 0; row < FlashPlan.size(); ++row) {
    EXPECT_EQ(FlashPlan[row].kind, kindAndAddress[row].first) << "row " << row;
    EXPECT_EQ(FlashPlan[row].address, kindAndAddress[row].second) << "row " << row;
  }
  const uint32_t images[] = {133, 142, 135, 129, 136, 139};
  size_t next = 0;
  for (const FlashStep& step : FlashPlan) {
    if (step.kind == kWriteStep) {
      EXPECT_EQ(step.imageId, images[next++]);
    }
  }
  EXPECT_EQ(next, std::size(images));
}

TEST(FlashPlan, EveryWriteLandsInARangeErasedEarlierAndInsideFlash) {
  for (size_t row = 0; row < FlashPlan.size(); ++row) {
    const FlashStep& step = FlashPlan[row];
    if (step.kind == kEraseStep) {
      EXPECT_EQ(step.address % 0x1000, 0u) << "row " << row;
      EXPECT_EQ(step.size % 0x1000, 0u) << "row " << row;
      EXPECT_LE(uint64_t{step.address} + step.size, kFlashSize) << "row " << row;
      continue;
    }
    const uint32_t length = WriteLength(step);
    ASSERT_GT(length, 0u) << "row " << row;
    bool covered = false;
    for (size_t before = 0; before < row; ++before) {
      const FlashStep& erase = FlashPlan[before];
      covered |= erase.kind == kEraseStep && erase.address <= step.address &&
                 step.address + length <= erase.address + erase.size;
    }
    EXPECT_TRUE(covered) << "row " << row << " writes outside every earlier erase";
  }
}

TEST(FlashPlan, ExplicitSizesFitTheirImages) {
  for (const FlashStep& step : FlashPlan) {
    if (step.kind != kWriteStep) continue;
    const auto length = ImageLength(step.imageId);
    ASSERT_TRUE(length) << "image " << step.imageId;
    EXPECT_LE(step.size, *length) << "image " << step.imageId;
    EXPECT_EQ(WriteLength(step), step.size != 0 ? step.size : *length);
  }
  EXPECT_EQ(WriteLength(FlashPlan[0]), 0u);  // an erase writes nothing
}

TEST(FlashPlan, BlockCounts) {
  EXPECT_EQ(PlanBlockCount(false), 1802u);
  EXPECT_EQ(PlanBlockCount(true), 1767u);
  // Image 129 ends in a short block: 528,512 = 129 * 4096 + 128.
  const FlashStep& row8 = FlashPlan[8];
  ASSERT_EQ(row8.imageId, 129u);
  const uint32_t blocks = BlockCount(row8);
  EXPECT_EQ(blocks, 130u);
  const uint32_t lastAddress = row8.address + (blocks - 1) * kBlockBytes;
  EXPECT_EQ(lastAddress, 0xDC000u);
  EXPECT_EQ(row8.address + WriteLength(row8) - lastAddress, 128u);
}

TEST(FlashPlan, VersionCheckReadsTheEndOfTheBootImage) {
  // Rows 3 and 4 erase and write image 142 at 0, and the version bytes are its last four.
  EXPECT_TRUE(SkippedWhenVersionMatches(3));
  EXPECT_TRUE(SkippedWhenVersionMatches(4));
  EXPECT_FALSE(SkippedWhenVersionMatches(2));
  EXPECT_FALSE(SkippedWhenVersionMatches(5));
  EXPECT_EQ(FlashPlan[kLastVersionRow].imageId, kVersionImageId);
  EXPECT_EQ(FlashPlan[kLastVersionRow].address + kVersionImageOffset, kVersionAddress);
  EXPECT_EQ(kVersionImageOffset + kVersionLength, *ImageLength(kVersionImageId));
}

TEST(AcceptedDeviceCodes, TwoModelsInOrder) {
  EXPECT_EQ(AcceptedDeviceCodes[0], (DeviceCode{0x4A, 0, 0, 0}));
  EXPECT_EQ(AcceptedDeviceCodes[1], (DeviceCode{0x4B, 0, 0, 0}));
  EXPECT_TRUE(IsAccepted({0x4B, 0, 0, 0}));
  EXPECT_FALSE(IsAccepted({0x4C, 0, 0, 0}));
  EXPECT_FALSE(IsAccepted({0x4A, 0, 0, 1}));
  EXPECT_FALSE(IsAccepted({0, 0, 0, 0}));
}

}  // namespace
}  // namespace q9m::firmware
