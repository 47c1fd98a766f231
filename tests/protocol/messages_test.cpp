#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/crc32.h"
#include "protocol/septets.h"

namespace q9m::protocol {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Build>
Bytes Built(Build build) {
  Bytes out(kMaxWriteBlockLength + 64, 0xEE);
  const size_t n = build(out.data());
  out.resize(n);
  return out;
}

// Framing of everything the host sends: F0 first, F7 last, nothing in between above 7F.
void ExpectFramed(const Bytes& m) {
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(m.front(), 0xF0);
  EXPECT_EQ(m.back(), 0xF7);
  for (size_t i = 1; i + 1 < m.size(); ++i) ASSERT_LT(m[i], 0x80) << "offset " << i;
}

TEST(Messages, WorkedExamplesWithModel4A) {
  EXPECT_EQ(Built([](uint8_t* d) { return BuildReadRequest(d, 0x4A, 0x22FFC, 4); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x60, 0x30, 0x7C, 0x5F, 0x08, 0x00, 0x00, 0x04, 0x00,
                   0x00, 0x00, 0x00, 0xF7}));
  const uint8_t block[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  EXPECT_EQ(
      Built([&](uint8_t* d) { return BuildWriteBlock(d, 0x4A, 0x22FFC, block, 8); }),
      (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x02, 0x7C, 0x5F, 0x08, 0x00, 0x00, 0x08, 0x00, 0x07, 0x12,
             0x34, 0x56, 0x78, 0x1A, 0x3C, 0x5E, 0x40, 0x70, 0x5C, 0x16, 0x17, 0x3D, 0x05, 0xF7}));
  const uint8_t read[] = {0x01, 0x80, 0xFF, 0x7F};
  EXPECT_EQ(Built([&](uint8_t* d) { return BuildReadDataReply(d, 0x4A, read, 4); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x60, 0x04, 0x30, 0x00, 0x00, 0x04, 0x00,
                   0x30, 0x01, 0x00, 0x7F, 0x7F, 0x59, 0x1B, 0x33, 0x25, 0x0D, 0xF7}));
  EXPECT_EQ(Built([](uint8_t* d) { return BuildStatusReply(d, 0x4A, 0); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(Built([](uint8_t* d) { return BuildStatusReply(d, 0x4A, 1); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x01, 0xF7}));
}

TEST(Messages, FixedCommands) {
  EXPECT_EQ(Bytes(kIdentityRequest.begin(), kIdentityRequest.end()),
            (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
  EXPECT_EQ(Built([](uint8_t* d) { return BuildBeginUpdate(d, 0x4B); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4B, 0x01, 0xF7}));
  EXPECT_EQ(Built([](uint8_t* d) { return BuildEndUpdate(d, 0x4B); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4B, 0x04, 0xF7}));
  EXPECT_EQ(Built([](uint8_t* d) { return BuildEraseRange(d, 0x4A, 0x119000, 0x1000); }),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x0A, 0x00, 0x20, 0x46, 0x00, 0x00, 0x00, 0x20, 0x00,
                   0x00, 0x00, 0xF7}));
  EXPECT_EQ(Built([](uint8_t* d) {
              return BuildHostIdentityReply(d, {0x4A, 0x01, 0x02, 0x03});
            }),
            (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x3D, 0x4A, 0x01, 0x02, 0x03, 0x31, 0x30, 0x30,
                   0x30, 0xF7}));
}

TEST(Messages, WriteBlockSizes) {
  Bytes data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
  const Bytes full =
      Built([&](uint8_t* d) { return BuildWriteBlock(d, 0x4A, 0, data.data(), 4096); });
  ASSERT_EQ(full.size(), 4700u);
  EXPECT_EQ(full[kWriteCountOffset], 0x00);
  EXPECT_EQ(full[kWriteCountOffset + 1], 0x20);
  EXPECT_EQ(DecodeSeptets(&full[kWriteDataOffset + 4682]), Crc32(data.data(), 4096));
  ExpectFramed(full);
  EXPECT_EQ(Built([&](uint8_t* d) { return BuildWriteBlock(d, 0x4A, 0, data.data(), 1); }).size(),
            20u);
}

TEST(Messages, WriteBlockRefusesCountsOutsideOneTo4096) {
  Bytes data(4097, 0x55);
  Bytes out(8, 0xEE);
  EXPECT_EQ(BuildWriteBlock(out.data(), 0x4A, 0, data.data(), 0), 0u);
  Bytes big(kMaxWriteBlockLength + 64, 0xEE);
  EXPECT_EQ(BuildWriteBlock(big.data(), 0x4A, 0, data.data(), 4097), 0u);
  EXPECT_EQ(out, Bytes(8, 0xEE));
  EXPECT_EQ(big, Bytes(kMaxWriteBlockLength + 64, 0xEE));
}

TEST(Messages, EveryHostMessageKeepsDataBytesBelow80) {
  const uint32_t extremes[] = {0, 1, 0x7F, 0x80, 0x22FFC, 0x7FFFFFFF, 0xFFFFFFFF};
  Bytes data(4096, 0xFF);
  for (uint8_t model : {uint8_t{0x00}, uint8_t{0x4A}, uint8_t{0x7F}}) {
    for (uint32_t a : extremes) {
      ExpectFramed(Built([&](uint8_t* d) { return BuildEraseRange(d, model, a, a); }));
      ExpectFramed(Built([&](uint8_t* d) { return BuildReadRequest(d, model, a, a); }));
      for (size_t n : {1, 6, 7, 8, 4095, 4096}) {
        ExpectFramed(
            Built([&](uint8_t* d) { return BuildWriteBlock(d, model, a, data.data(), n); }));
      }
    }
    ExpectFramed(Built([&](uint8_t* d) { return BuildBeginUpdate(d, model); }));
    ExpectFramed(Built([&](uint8_t* d) { return BuildEndUpdate(d, model); }));
    ExpectFramed(Built([&](uint8_t* d) { return BuildStatusReply(d, model, 0x7F); }));
    ExpectFramed(Built([&](uint8_t* d) { return BuildHostIdentityReply(d, {model, 0, 0x7F, 1}); }));
  }
}

TEST(Messages, DeviceRepliesHaveTheLayoutTheHostReads) {
  const Bytes reply = Built([](uint8_t* d) { return BuildIdentityReply(d, {0x4B, 0, 0, 0}); });
  ASSERT_EQ(reply.size(), kIdentityReplyLength);
  EXPECT_EQ(reply[1], 0x7E);
  EXPECT_EQ(reply[kSubIdOffset], 0x06);
  EXPECT_EQ(reply[kSubId2Offset], 0x02);
  EXPECT_EQ(Bytes(reply.begin() + 6, reply.begin() + 10), (Bytes{0x4B, 0, 0, 0}));
  Bytes data(100, 0xA5);
  EXPECT_EQ(Built([&](uint8_t* d) { return BuildReadDataReply(d, 0x4A, data.data(), 100); }).size(),
            ReadDataReplyLength(100));
}

}  // namespace
}  // namespace q9m::protocol
