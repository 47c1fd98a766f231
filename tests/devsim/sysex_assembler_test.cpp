#include "devsim/sysex_assembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace q9m::devsim {
namespace {

using Bytes = std::vector<uint8_t>;

// A raw MIDI byte stream arrives in pieces that need not end where messages end.
TEST(SysExAssembler, JoinsPiecesAndCutsWhereTheStreamSaysSo) {
  std::vector<Bytes> delivered;
  SysExAssembler assembler(
      [&](const uint8_t* bytes, size_t n) { delivered.emplace_back(bytes, bytes + n); });
  const Bytes stream = {0x01, 0x02,                    // stray data bytes
                        0xF0, 0x7E, 0x10, 0xF8, 0x11,  // a timing clock in the middle of a message
                        0xF7,                          // its end
                        0xF0, 0x7D, 0x20,              // cut by a note-on ...
                        0x90, 0x40, 0x7F,              // ... which comes through as it came
                        0xF0, 0x7D, 0x30,              // cut by a new System Exclusive
                        0xF0, 0x7D, 0x31, 0xF7};
  const size_t pieces[] = {1, 3, 2, 6, 4, stream.size()};  // where each read ends
  size_t from = 0;
  for (const size_t end : pieces) {
    const size_t to = std::min(end + from, stream.size());
    assembler.Add(stream.data() + from, to - from);
    from = to;
  }
  const std::vector<Bytes> expected = {{0x01},
                                       {0x02},
                                       {0xF8},
                                       {0xF0, 0x7E, 0x10, 0x11, 0xF7},
                                       {0xF0, 0x7D, 0x20},
                                       {0x90, 0x40, 0x7F},
                                       {0xF0, 0x7D, 0x30},
                                       {0xF0, 0x7D, 0x31, 0xF7}};
  EXPECT_EQ(delivered, expected);
}

// After events were lost, the message under way and the rest of it are dropped; the next
// message comes through alone, never joined to the pieces before the loss.
TEST(SysExAssembler, AbandonsTheMessageUnderWayAfterALoss) {
  std::vector<Bytes> delivered;
  SysExAssembler assembler(
      [&](const uint8_t* bytes, size_t n) { delivered.emplace_back(bytes, bytes + n); });
  const Bytes before = {0xF0, 0x7D, 0x01, 0x02};
  const Bytes after = {0x03, 0xF8, 0x04, 0xF7, 0xF0, 0x7D, 0x05, 0xF7};  // its rest, the next
  assembler.Add(before.data(), before.size());
  assembler.Abandon();
  assembler.Add(after.data(), after.size());
  assembler.Abandon();  // a loss between messages: the next starts with its status byte
  const Bytes next = {0x90, 0x40, 0x7F};
  assembler.Add(next.data(), next.size());
  const std::vector<Bytes> expected = {{0xF8}, {0xF0, 0x7D, 0x05, 0xF7}, {0x90, 0x40, 0x7F}};
  EXPECT_EQ(delivered, expected);
}

}  // namespace
}  // namespace q9m::devsim
