// The stop requests are the console's control events (Ctrl-C, Ctrl-Break, the console window
// closing, the user signing off), which Windows delivers on a thread of its own. The handler
// only records the event and wakes the main thread's wait.
#include "app/stop_requests.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <atomic>

namespace q9m::app {

namespace {

HANDLE stopRequested = nullptr;  // manual-reset: once asked, the run stays stopped
std::atomic<DWORD> stopEvent{0xFFFFFFFF};

std::string EventName(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return "the user (Ctrl-C)";
    case CTRL_BREAK_EVENT:
      return "the user (Ctrl-Break)";
    case CTRL_CLOSE_EVENT:
      return "the console window closing";
    default:
      return "the user signing off or the system shutting down";
  }
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  DWORD none = 0xFFFFFFFF;
  stopEvent.compare_exchange_strong(none, event);
  SetEvent(stopRequested);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The process ends as soon as this handler returns: give the main thread the few seconds
    // that Windows allows to close the ports and report.
    Sleep(4000);
  }
  return TRUE;
}

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(n - 1));
  return utf8;
}

void ShowControlSequences(DWORD stdHandle) {
  const HANDLE console = GetStdHandle(stdHandle);
  DWORD mode = 0;
  if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
    SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

}  // namespace

void TakeOverStopRequests() {
  stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  // Port names and messages are UTF-8; the terminal line is redrawn with "\r" and ESC [K.
  SetConsoleOutputCP(CP_UTF8);
  ShowControlSequences(STD_OUTPUT_HANDLE);
  ShowControlSequences(STD_ERROR_HANDLE);
}

std::string WaitForStopRequest(std::chrono::milliseconds timeout) {
  if (stopRequested == nullptr) {
    Sleep(static_cast<DWORD>(timeout.count()));
    return {};
  }
  if (WaitForSingleObject(stopRequested, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return {};
  }
  return EventName(stopEvent.load());
}

// main's argv is in the system's ANSI code page, which cannot hold every port name.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

long CurrentProcessId() {
  return static_cast<long>(GetCurrentProcessId());
}

}  // namespace q9m::app
