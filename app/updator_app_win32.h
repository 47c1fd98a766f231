// The application object on Windows: it takes this copy's instance number, runs the main
// dialog modally, and ends the program when the dialog closes.
#pragma once

#include "platform/named_mutex.h"

namespace q9m::app::win32 {

class CK2pUpdatorApp {
 public:
  // Runs InitInstance and returns the exit status: 0 after a normal run, 1 when start-up was
  // refused.
  int Run();

  // The mutex that holds this copy's number; the program never closes it, so the number stays
  // taken until the process ends.
  platform::MutexHandle instanceMutex = platform::MutexHandle::kNoMutex;
  // 1 to 20 once start-up has taken a number.
  int instanceNumber = 0;

 private:
  // Always false: there is no message loop after the dialog's own modal loop.
  bool InitInstance();

  int exitStatus_ = 0;
};

// The one application object, with static storage.
extern CK2pUpdatorApp theApp;

}  // namespace q9m::app::win32
