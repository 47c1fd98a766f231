// The program keeps its texts in UTF-8; Windows takes UTF-16. These convert at that boundary.
#pragma once

#include <string>

namespace q9m::ui::win32 {

// Bytes that are not UTF-8 become U+FFFD, so a port name the MIDI service spelled oddly still
// shows.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace q9m::ui::win32
