// Rules for the names under which ports are listed, shared by every MIDI system.
#pragma once

#include <string>

namespace q9m::platform {

// True when text[begin, end) is not empty and holds only the digits 0 to 9.
bool AllDigits(const std::string& text, size_t begin, size_t end);

}  // namespace q9m::platform
