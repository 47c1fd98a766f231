// Automation for the end-to-end tests of the Windows dialog, switched on by the environment as
// on Linux (app/autorun.h):
//   Q9M_UPDATER_AUTORUN=1       prints the window title, presses Execute once the window is up,
//                               prints every message box on stdout instead of showing it (as
//                               answered OK; a question is answered No and closes the window),
//                               prints the outcome ("Version update completed." or the error
//                               text) when the press has come to its end, and closes the
//                               window; the exit status is 0 for a completed update, 1
//                               otherwise.
//   Q9M_UPDATER_AUTORUN_PORT=NAME  with autorun: before pressing Execute, selects the port named
//                               NAME in both lists, as a user would pick it (none when no port
//                               has that name): for a device whose name no copy preselects.
// Without them the program is left to its user.
#pragma once

#include <windows.h>

#include <string>

namespace q9m::ui::win32 {
class CK2pUpdatorDlg;
}

namespace q9m::app::win32 {

class Autorun {
 public:
  Autorun();
  bool enabled() const { return enabled_; }

  // A message box with MessageBoxW's arguments: shown, or printed when enabled.
  int Box(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) const;
  // Has the dialog's boxes printed and follows its outcome (when enabled).
  void Attach(ui::win32::CK2pUpdatorDlg& dialog);
  // Prints the title, picks the named port and presses Execute (when enabled and the window is
  // up).
  void PressExecute(ui::win32::CK2pUpdatorDlg& dialog) const;
  // True once an automated press has ended with "Version update completed.".
  bool completed() const { return completed_; }

 private:
  bool enabled_ = false;
  std::wstring port_;
  bool completed_ = false;
};

}  // namespace q9m::app::win32
