#include "protocol/pack7.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace q9m::protocol {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pack(const Bytes& source) {
  Bytes out(PackedLength(source.size()) + 8, 0xEE);  // sentinel bytes after the packed form
  const size_t n = Pack7(out.data(), source.data(), source.size());
  EXPECT_EQ(n, PackedLength(source.size()));
  for (size_t i = n; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "wrote past P(n) at " << i;
  out.resize(n);
  return out;
}

TEST(Pack7, MatchesTheWireExamples) {
  EXPECT_EQ(Pack({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}),
            (Bytes{0x07, 0x12, 0x34, 0x56, 0x78, 0x1A, 0x3C, 0x5E, 0x40, 0x70}));
  EXPECT_EQ(Pack({0x80}), (Bytes{0x40, 0x00}));
  EXPECT_EQ(Pack(Bytes(7, 0xFF)), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}));
}

TEST(Pack7, GroupBoundaries) {
  EXPECT_TRUE(Pack({}).empty());
  EXPECT_EQ(Pack(Bytes(7, 1)).size(), 8u);   // no empty group after a full one
  EXPECT_EQ(Pack(Bytes(8, 1)).size(), 10u);  // a full group, then a header and one byte
  EXPECT_EQ(PackedLength(4096), 4682u);
  EXPECT_EQ(PackedLength(6), 7u);
}

TEST(Pack7, RoundTripsEveryLengthUpToAFullBlock) {
  std::mt19937 random(7);
  for (size_t n = 0; n <= 4096; ++n) {
    Bytes source(n);
    for (auto& b : source) b = static_cast<uint8_t>(random());
    const Bytes packed = Pack(source);
    for (uint8_t b : packed) ASSERT_LT(b, 0x80) << "n=" << n;
    ASSERT_EQ(UnpackedLength(packed.size()), n);
    Bytes back(n + 8, 0xEE);
    ASSERT_EQ(Unpack7(back.data(), packed.data(), packed.size()), n);
    for (size_t i = n; i < back.size(); ++i) ASSERT_EQ(back[i], 0xEE) << "n=" << n;
    back.resize(n);
    ASSERT_EQ(back, source) << "n=" << n;
  }
}

TEST(Pack7, UnpackReadsNothingBeyondTheLengthGiven) {
  // A last group of 7 packed bytes (n mod 7 == 6) yields 6 data bytes. The source sits at the
  // very end of an exactly sized heap block, so AddressSanitizer catches any read past it.
  const Bytes source = {0x81, 0x02, 0x83, 0x04, 0x85, 0x06};
  const Bytes packed = Pack(source);
  ASSERT_EQ(packed.size(), 7u);
  auto exact = std::make_unique<uint8_t[]>(packed.size());
  std::copy(packed.begin(), packed.end(), exact.get());
  Bytes out(6);
  EXPECT_EQ(Unpack7(out.data(), exact.get(), packed.size()), 6u);
  EXPECT_EQ(out, source);
  // A lone header yields nothing.
  EXPECT_EQ(Unpack7(out.data(), exact.get(), 1), 0u);
}

}  // namespace
}  // namespace q9m::protocol
