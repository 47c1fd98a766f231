// Cutting UTF-8 texts: by characters and by bytes, always between two characters, and with
// bytes that are not UTF-8 kept and counted one by one.
#include "platform/utf8_cut.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace q9m::platform {
namespace {

const std::string kKatakanaO = "\xE3\x82\xAA";   // オ, 3 bytes
const std::string kGuitar = "\xF0\x9F\x8E\xB8";  // a 4-byte character
const std::string kUmlaut = "\xC3\xBC";          // ü, 2 bytes
const std::string kJapanese =                    // USB オーディオ デバイス
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";

size_t Cut(const std::string& text, size_t maxChars, size_t maxBytes = SIZE_MAX) {
  return Utf8CutLength(text.data(), text.size(), maxChars, maxBytes);
}

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(Utf8CutTest, CountsCharactersNotBytes) {
  EXPECT_EQ(Cut("", 31), 0u);
  EXPECT_EQ(Cut("Q9m MIDI 1", 31), 10u);
  EXPECT_EQ(Cut(std::string(40, 'x'), 31), 31u);
  EXPECT_EQ(Cut("abc", 0), 0u);
  // 14 characters in 32 bytes: kept whole under a bound of 31 characters.
  ASSERT_EQ(kJapanese.size(), 32u);
  EXPECT_EQ(Cut(kJapanese, 31), 32u);
  EXPECT_EQ(Cut(kJapanese, 14), 32u);
  EXPECT_EQ(Cut(kJapanese, 13), 29u);  // without the last katakana
  EXPECT_EQ(Cut(kJapanese, 5), 7u);    // "USB " and one katakana
  // A long name of multi-byte characters ends after its 31st character.
  EXPECT_EQ(Cut(Repeat(kKatakanaO, 45), 31), 31u * 3);
  EXPECT_EQ(Cut(Repeat(kGuitar, 32), 31), 31u * 4);
  EXPECT_EQ(Cut("a" + kUmlaut + kGuitar + "b", 3), 7u);
}

TEST(Utf8CutTest, AByteBoundLeavesOutACharacterThatWouldStraddleIt) {
  EXPECT_EQ(Cut(std::string(30, 'a') + kUmlaut, SIZE_MAX, 31), 30u);
  EXPECT_EQ(Cut(std::string(29, 'a') + kKatakanaO, SIZE_MAX, 31), 29u);
  EXPECT_EQ(Cut(std::string(28, 'a') + kGuitar + "b", SIZE_MAX, 31), 28u);
  // A character that ends exactly on the bound stays.
  EXPECT_EQ(Cut(std::string(29, 'a') + kUmlaut + "b", SIZE_MAX, 31), 31u);
  EXPECT_EQ(Cut(std::string(27, 'a') + kGuitar + "b", SIZE_MAX, 31), 31u);
  // Whichever bound comes first ends the text.
  EXPECT_EQ(Cut(Repeat(kKatakanaO, 11), 31, 31), 30u);
  EXPECT_EQ(Cut(Repeat(kKatakanaO, 11), 4, 31), 12u);
  EXPECT_EQ(Cut("abc", 5, 0), 0u);
}

TEST(Utf8CutTest, BytesThatAreNotUtf8CountAsOneCharacterEach) {
  // Stray continuation bytes, and bytes that UTF-8 never uses.
  EXPECT_EQ(Cut("\x80\xBF"
                "abc",
                3),
            3u);
  EXPECT_EQ(Cut("\xC0\xC1\xF5\xFF", 3), 3u);
  // A lead byte whose continuation bytes do not follow: the lead byte alone, then the rest.
  EXPECT_EQ(Cut("\xE3"
                "ab",
                1),
            1u);
  EXPECT_EQ(Cut("\xE3\x82"
                "a",
                2),
            2u);
  EXPECT_EQ(Cut("\xF0\x9F\x8E"
                "a" +
                    kGuitar,
                4),
            4u);
  EXPECT_EQ(Cut("\xF0\x9F\x8E"
                "a" +
                    kGuitar,
                5),
            8u);
  // Every byte of a text that is not UTF-8 at all is kept under a bound large enough.
  const std::string garbage = "\xFE\x80\xE3\xC3\xF4\x90";
  EXPECT_EQ(Cut(garbage, 31), garbage.size());
}

TEST(Utf8CutTest, NeverReadsBeyondTheGivenSize) {
  // Sequences cut short by the end of the buffer; the buffers are exactly as long as their
  // text (no terminator), so that a read past the end is caught by AddressSanitizer.
  for (const std::string& text : {std::string("ab\xE3\x82"), std::string("\xF0"),
                                  std::string("a\xF0\x9F\x8E"), std::string("\xC3")}) {
    auto buffer = std::make_unique<char[]>(text.size());
    std::memcpy(buffer.get(), text.data(), text.size());
    EXPECT_EQ(Utf8CutLength(buffer.get(), text.size(), 31), text.size());
    EXPECT_EQ(Utf8CutLength(buffer.get(), text.size(), 1), 1u);
  }
  // The size ends the text even where the bytes after it would complete a character.
  EXPECT_EQ(Utf8CutLength(kKatakanaO.data(), 2, 31), 2u);
  EXPECT_EQ(Utf8CutLength(kKatakanaO.data(), 0, 31), 0u);
}

}  // namespace
}  // namespace q9m::platform
