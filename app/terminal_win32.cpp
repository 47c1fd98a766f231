#include "app/terminal.h"

#include <io.h>
#include <windows.h>

namespace q9m::app {

namespace {

// The console behind `out`; nothing for a pipe, a file or the NUL device.
HANDLE ConsoleOf(std::FILE* out) {
  const intptr_t handle = _get_osfhandle(_fileno(out));
  if (handle == -1) return nullptr;
  DWORD mode = 0;
  const HANDLE console = reinterpret_cast<HANDLE>(handle);
  return GetConsoleMode(console, &mode) ? console : nullptr;
}

}  // namespace

// _isatty would also call the NUL device a terminal; only a console is one.
bool IsTerminal(std::FILE* out) {
  return ConsoleOf(out) != nullptr;
}

size_t TerminalColumns(std::FILE* out) {
  const HANDLE console = ConsoleOf(out);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<size_t>(columns) : 0;
}

}  // namespace q9m::app
