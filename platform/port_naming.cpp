#include "platform/port_naming.h"

#include <cctype>

namespace q9m::platform {

bool AllDigits(const std::string& text, size_t begin, size_t end) {
  if (begin >= end) return false;
  for (size_t i = begin; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace q9m::platform
