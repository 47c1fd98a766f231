#include "protocol/crc32.h"

#include <array>
#include <cstring>

namespace q9m::protocol {

namespace {

// kTables[0] is the standard byte table of the reflected polynomial; kTables[k][i] is the CRC
// contribution of byte i followed by k zero bytes. Eight bytes are then folded in at once,
// each with its own single lookup ("slicing by eight"), instead of one dependent step a byte.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    t[0][i] = r;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (size_t k = 1; k < t.size(); ++k) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
  }
  return t;
}

constexpr Tables kTables = MakeTables();

uint32_t LoadLittle32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t n) {
  uint32_t r = 0xFFFFFFFFu;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint32_t low = LoadLittle32(data + i) ^ r;
    const uint32_t high = LoadLittle32(data + i + 4);
    r = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
        kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
        kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; i < n; ++i) r = kTables[0][(r ^ data[i]) & 0xFF] ^ (r >> 8);
  return r;
}

}  // namespace q9m::protocol
