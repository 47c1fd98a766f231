#include "platform/utf8_cut.h"

#include <cstdint>

namespace q9m::platform {

namespace {

// The length of the sequence that `lead` starts, or 1 for a byte that starts none.
size_t SequenceLength(uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// The bytes of the character at `at`, of which `left` bytes are there to read.
size_t CharacterBytes(const uint8_t* at, size_t left) {
  const size_t n = SequenceLength(at[0]);
  if (n > left) return 1;
  for (size_t i = 1; i < n; ++i) {
    if ((at[i] & 0xC0) != 0x80) return 1;
  }
  return n;
}

}  // namespace

size_t Utf8CutLength(const char* text, size_t size, size_t maxChars, size_t maxBytes) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  size_t length = 0;
  for (size_t chars = 0; chars < maxChars && length < size; ++chars) {
    const size_t n = CharacterBytes(bytes + length, size - length);
    if (n > maxBytes - length) break;
    length += n;
  }
  return length;
}

}  // namespace q9m::platform
