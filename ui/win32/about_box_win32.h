// The About box on Windows, from dialog template 100: the icon, the program's name (never with
// an instance number) and which firmware images it carries.
#pragma once

#include <windows.h>

namespace q9m::ui::win32 {

// Runs the box modally, owned by `owner`; returns once it was closed.
void RunAboutBox(HWND owner);

}  // namespace q9m::ui::win32
