#include "protocol/crc32.h"

#include <gtest/gtest.h>

namespace q9m::protocol {
namespace {

const uint8_t* Text(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}

TEST(Crc32, CheckValues) {
  EXPECT_EQ(Crc32(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Crc32(Text("abc"), 3), 0xCADBBE3Du);
  EXPECT_EQ(~Crc32(Text("abc"), 3), 0x352441C2u);  // the common CRC-32 is its complement
  EXPECT_EQ(~Crc32(Text("123456789"), 9), 0xCBF43926u);
}

TEST(Crc32, BlockExamplesFromTheWire) {
  const uint8_t block[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  EXPECT_EQ(Crc32(block, sizeof block), 0x57A5CB5Cu);
  const uint8_t read[] = {0x01, 0x80, 0xFF, 0x7F};
  EXPECT_EQ(Crc32(read, sizeof read), 0xD4ACCDD9u);
}

}  // namespace
}  // namespace q9m::protocol
