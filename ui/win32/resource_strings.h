// The texts of the program's string table resource.
#pragma once

#include <string>

namespace q9m::ui::win32 {

// The text of string `id` in this program's resources, or an empty text when there is none.
std::wstring ResourceString(int id);

}  // namespace q9m::ui::win32
