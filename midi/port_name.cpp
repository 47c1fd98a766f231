#include "midi/port_name.h"

#include <cstring>

namespace q9m::midi {

void CopyPortName(const char* name, size_t nameSize, char* buffer) {
  size_t length = 0;
  if (name != nullptr) {
    length = platform::Utf8CutLength(name, strnlen(name, nameSize), kPortNameBufferChars - 1,
                                     kPortNameBufferSize - 1);
    std::memcpy(buffer, name, length);
  }
  buffer[length] = '\0';
}

}  // namespace q9m::midi
