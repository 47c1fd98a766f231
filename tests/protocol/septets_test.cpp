#include "protocol/septets.h"

#include <gtest/gtest.h>

#include <array>

namespace q9m::protocol {
namespace {

std::array<uint8_t, 5> Encode(uint32_t value) {
  std::array<uint8_t, 5> out{};
  EncodeSeptets(value, out.data());
  return out;
}

TEST(Septets, EncodeMatchesTheWireExamples) {
  EXPECT_EQ(Encode(0x22FFC), (std::array<uint8_t, 5>{0x7C, 0x5F, 0x08, 0x00, 0x00}));
  EXPECT_EQ(Encode(4), (std::array<uint8_t, 5>{0x04, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Encode(0xFFFFFFFF), (std::array<uint8_t, 5>{0x7F, 0x7F, 0x7F, 0x7F, 0x0F}));
}

TEST(Septets, DecodeIgnoresTheUpperBitsOfTheFifthSeptet) {
  const uint8_t all[5] = {0x7F, 0x7F, 0x7F, 0x7F, 0x7F};
  EXPECT_EQ(DecodeSeptets(all), 0xFFFFFFFFu);
  const uint8_t high[5] = {0x00, 0x00, 0x00, 0x00, 0x70};
  EXPECT_EQ(DecodeSeptets(high), 0u);
}

TEST(Septets, RoundTripKeepsEveryBitPosition) {
  for (int bit = 0; bit < 32; ++bit) {
    const uint32_t value = 1u << bit;
    auto bytes = Encode(value);
    for (uint8_t b : bytes) EXPECT_LT(b, 0x80);
    EXPECT_EQ(DecodeSeptets(bytes.data()), value) << "bit " << bit;
    EXPECT_EQ(DecodeSeptets(Encode(~value).data()), ~value) << "bit " << bit;
  }
}

TEST(Septets, CountOfAFullBlockIs00_20) {
  uint8_t count[2];
  EncodeCount(4096, count);
  EXPECT_EQ(count[0], 0x00);
  EXPECT_EQ(count[1], 0x20);
  EXPECT_EQ(DecodeCount(count), 4096u);
  EncodeCount(16383, count);
  EXPECT_EQ(count[0], 0x7F);
  EXPECT_EQ(count[1], 0x7F);
}

}  // namespace
}  // namespace q9m::protocol
