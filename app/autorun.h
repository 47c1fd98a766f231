// Automation for the demo and the end-to-end tests, switched on by the environment:
//   Q9M_UPDATER_AUTORUN=1        prints the window title, presses Execute once the window is
//                                up, prints every message box on stdout and dismisses it, and
//                                prints the outcome ("Version update completed." or the error
//                                text) when the press has come to its end, and closes the
//                                window; the exit status is 0 for a completed update, 1
//                                otherwise.
//   Q9M_UPDATER_SCREENSHOT=PATH  with autorun: saves a grab of the window (PNG) before it
//                                closes.
//   Q9M_UPDATER_AUTORUN_RESCAN_WHEN=PATH  with autorun: before pressing Execute, prints the
//                                port lists, waits until the file PATH exists, presses Rescan
//                                Device and prints the lists again (a device plugged in while
//                                the window is up).
//   Q9M_UPDATER_AUTORUN_AGAIN_WHEN=PATH  with autorun: when the press ends in failure, waits
//                                until the file PATH exists, presses Rescan Device, prints the
//                                lists and presses Execute once more in the same window (a
//                                device that went away and came back).
//   Q9M_UPDATER_AUTORUN_ESC_WHEN=PATH  with autorun: once Execute is pressed, waits until the
//                                file PATH exists and presses Esc in the window, as a user
//                                would during the update.
// Without them the program is left to its user.
#pragma once

#include <QString>

class QMessageBox;

namespace q9m::ui {
class CK2pUpdatorDlg;
}

namespace q9m::app {

class Autorun {
 public:
  Autorun();
  bool enabled() const { return enabled_; }

  // Records the box and presses its OK button once it is up (when enabled).
  void Dismiss(QMessageBox& box) const;
  // Prints the title and follows the dialog's boxes and outcome (when enabled).
  void Attach(ui::CK2pUpdatorDlg& dialog);
  // Presses Execute (when enabled and the window is up).
  void PressExecute(ui::CK2pUpdatorDlg& dialog) const;
  // True once an automated press has ended with "Version update completed.".
  bool completed() const { return completed_; }

 private:
  // Once the file `path` exists: presses Rescan Device, prints the lists, presses Execute.
  void RescanAndExecuteWhen(ui::CK2pUpdatorDlg& dialog, const QString& path) const;
  void CloseWindow(ui::CK2pUpdatorDlg& dialog) const;
  // Once the file `path` exists: presses Esc in the window.
  void PressEscWhen(ui::CK2pUpdatorDlg& dialog, const QString& path) const;

  bool enabled_ = false;
  QString screenshot_;
  QString rescanWhen_;
  QString againWhen_;
  QString escWhen_;
  bool triedAgain_ = false;
  bool completed_ = false;
};

// Prints one line on stdout at once (the tests read it while the program runs).
void PrintLine(const QString& text);

}  // namespace q9m::app
