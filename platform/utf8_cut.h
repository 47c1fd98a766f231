// Cutting texts that hold UTF-8 (port names, client names) without splitting a character.
#pragma once

#include <cstddef>
#include <limits>

namespace q9m::platform {

// Names are UTF-8 here, and a character takes at most this many bytes.
inline constexpr size_t kMaxUtf8CharBytes = 4;

// The length in bytes of the longest start of text[0, size) that holds at most `maxChars`
// characters in at most `maxBytes` bytes, so that it ends between two characters. A character
// is a complete UTF-8 sequence; any other byte (a stray continuation byte, a lead byte whose
// sequence is cut short, a byte that UTF-8 never uses) counts as one character of one byte, so
// a name with invalid bytes is still cut after a whole number of bytes and none is altered.
// Reads nothing at or beyond text[size].
size_t Utf8CutLength(const char* text, size_t size, size_t maxChars,
                     size_t maxBytes = std::numeric_limits<size_t>::max());

}  // namespace q9m::platform
