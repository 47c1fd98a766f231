// Named mutexes on Windows: the system's own, in this session's name space (the default for
// names without a "Global\" prefix), so that each signed-in user counts their own copies.
#include "platform/named_mutex.h"

// After the header: <windows.h> defines ERROR_ALREADY_EXISTS as a macro of the same value.
#include <windows.h>

#include <string>

namespace q9m::platform {

namespace {

// The name as UTF-16; empty when it is not valid UTF-8.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), n);
  return wide;
}

}  // namespace

bool NamedMutexFolder(std::string* folder, std::string* /*error*/) {
  // The kernel's object name space holds the names; there is no folder to check.
  if (folder) *folder = "the session's object name space";
  return true;
}

MutexHandle CreateNamedMutex(const std::string& name, uint32_t* lastError) {
  *lastError = 0;
  // A backslash would name another name space ("Global\...").
  const std::wstring wide = Wide(name);
  if (wide.empty() || wide.find(L'\\') != std::wstring::npos) {
    *lastError = ERROR_INVALID_NAME;
    return MutexHandle::kNoMutex;
  }
  HANDLE handle = CreateMutexW(nullptr, TRUE, wide.c_str());
  // Read at once: the already-exists report lives only until the next failing call.
  const DWORD error = GetLastError();
  if (handle == nullptr) {
    *lastError = error != 0 ? error : ERROR_INVALID_HANDLE;
    return MutexHandle::kNoMutex;
  }
  if (error == ERROR_ALREADY_EXISTS) *lastError = ERROR_ALREADY_EXISTS;
  return static_cast<MutexHandle>(reinterpret_cast<intptr_t>(handle));
}

void CloseHandle(MutexHandle handle) {
  if (handle == MutexHandle::kNoMutex) return;
  // The name lives as long as any handle to it, whoever owns the mutex: closing the last one
  // (or the process ending) frees it.
  ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)));
}

}  // namespace q9m::platform
