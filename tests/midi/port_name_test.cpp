// The names the ports hand to their owner: at most 39 characters and a terminator, cut
// between two characters, read no further than the record's name.
#include "midi/port_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace q9m::midi {
namespace {

const std::string kKatakanaDe = "\xE3\x83\x87";  // デ, 3 bytes
const std::string kGuitar = "\xF0\x9F\x8E\xB8";  // a 4-byte character

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// Copies `name` (with its terminator) through CopyPortName into a buffer filled with 'z'.
std::string Copied(const std::string& name, char (&buffer)[kPortNameBufferSize]) {
  std::memset(buffer, 'z', sizeof buffer);
  CopyPortName(name.c_str(), name.size() + 1, buffer);
  return buffer;
}

TEST(CopyPortNameTest, KeepsAtMost39CharactersAndATerminator) {
  char buffer[kPortNameBufferSize];
  EXPECT_EQ(Copied("", buffer), "");
  EXPECT_EQ(Copied("USB Audio Device", buffer), "USB Audio Device");
  EXPECT_EQ(Copied(std::string(39, 'a'), buffer), std::string(39, 'a'));
  EXPECT_EQ(Copied(std::string(45, 'a'), buffer), std::string(39, 'a'));
  EXPECT_EQ(Copied(Repeat(kKatakanaDe, 50), buffer), Repeat(kKatakanaDe, 39));
  // 39 characters of the longest kind and the terminator fit the buffer.
  EXPECT_EQ(Copied(Repeat(kGuitar, 45), buffer), Repeat(kGuitar, 39));
  EXPECT_EQ(buffer[39 * 4], '\0');
  EXPECT_EQ(buffer[39 * 4 + 1], 'z') << "nothing is written after the terminator";
  // A lead byte whose sequence is cut short is kept as one character of its own.
  EXPECT_EQ(Copied(std::string(38, 'a') + "\xE3\x83" + "b", buffer), std::string(38, 'a') + "\xE3");
}

TEST(CopyPortNameTest, ReadsNoFurtherThanTheNamesSize) {
  char buffer[kPortNameBufferSize];
  std::memset(buffer, 'z', sizeof buffer);
  // A record's name that fills its whole field without a terminator; the heap block is exactly
  // that long, so that AddressSanitizer catches a read past it.
  const std::string unterminated = "Q9m MIDI " + kKatakanaDe;
  auto name = std::make_unique<char[]>(unterminated.size());
  std::memcpy(name.get(), unterminated.data(), unterminated.size());
  CopyPortName(name.get(), unterminated.size(), buffer);
  EXPECT_STREQ(buffer, unterminated.c_str());
  // The field's size cuts a character short: its two bytes are no character, each is kept.
  CopyPortName(name.get(), unterminated.size() - 1, buffer);
  EXPECT_STREQ(buffer, "Q9m MIDI \xE3\x83");
  CopyPortName(nullptr, 10, buffer);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace q9m::midi
