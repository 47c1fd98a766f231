// The port names that the ports hand to their owner: at most 40 characters with the
// terminator, in buffers sized for those characters in UTF-8.
#pragma once

#include <cstddef>

#include "platform/utf8_cut.h"

namespace q9m::midi {

// Port names are copied into buffers of this many characters, terminator included ...
inline constexpr size_t kPortNameBufferChars = 40;
// ... which take this many bytes.
inline constexpr size_t kPortNameBufferSize = kPortNameBufferChars * platform::kMaxUtf8CharBytes;

// Copies the name in name[0, nameSize), up to a terminator, into `buffer` (kPortNameBufferSize
// bytes): at most kPortNameBufferChars - 1 characters, cut between two characters, and a
// terminator. A null `name` gives an empty text.
void CopyPortName(const char* name, size_t nameSize, char* buffer);

}  // namespace q9m::midi
