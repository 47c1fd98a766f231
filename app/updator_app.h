// The application object: it takes this copy's instance number, runs the main dialog modally,
// and ends the program when the dialog closes.
#pragma once

#include <QApplication>
#include <memory>

#include "platform/named_mutex.h"

namespace q9m::ui {
class CK2pUpdatorDlg;
}

namespace q9m::app {

class StopSignalWatcher;

class CK2pUpdatorApp {
 public:
  // Constructs the toolkit's application, runs InitInstance, and returns the exit status:
  // 0 after a normal run, 1 when start-up was refused or failed (or, under the automation of
  // the end-to-end tests, when the update did not complete).
  int Run(int argc, char** argv);
  ~CK2pUpdatorApp();

  // The mutex that holds this copy's number; the program never closes it, so the number stays
  // taken until the process ends.
  platform::MutexHandle instanceMutex = platform::MutexHandle::kNoMutex;
  // 1 to 20 once start-up has taken a number.
  int instanceNumber = 0;

 private:
  // Always "false": the toolkit runs no message loop of its own afterwards; the dialog's
  // modal loop is the program's loop.
  bool InitInstance();
  // SIGTERM, SIGINT or SIGHUP: close as Exit does, dismissing any box that is up.
  void OnStopSignal();

  std::unique_ptr<QApplication> application_;
  std::unique_ptr<StopSignalWatcher> stopSignals_;
  ui::CK2pUpdatorDlg* dialog_ = nullptr;  // while the main dialog exists
  int exitStatus_ = 0;
};

// The one application object, with static storage.
extern CK2pUpdatorApp theApp;

}  // namespace q9m::app
