#include "ui/win32/resource_strings.h"

#include <windows.h>

namespace q9m::ui::win32 {

std::wstring ResourceString(int id) {
  // With a buffer size of 0 the call hands out the resource's own read-only text, which is not
  // terminated, and its length.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                 reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace q9m::ui::win32
