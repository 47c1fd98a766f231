// What the worker shows, and the only way it reaches the dialog. The dialog implements it on
// its own thread; tests implement it with a recorder.
#pragma once

#include <cstdint>
#include <string>

namespace q9m::protocol {

class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void SetActivityText(const std::string& text) = 0;
  virtual void SetStepText(const std::string& text) = 0;
  virtual void SetProgressRange(int lowest, int highest) = 0;
  virtual void SetProgressPosition(int position) = 0;
  // Shows the error box with text `stringId` and returns once the user has dismissed it (or
  // the window is closing), then gives the controls back.
  virtual void ReportError(int stringId) = 0;
  // The same for a failure at one flash address; `detail` says what was found there. A view
  // that shows no more than the text leaves this as it is.
  virtual void ReportErrorAt(int stringId, uint32_t address, const std::string& detail) {
    (void)address;
    (void)detail;
    ReportError(stringId);
  }
  virtual void RestoreControls() = 0;
  virtual void EnableExecute(bool enable) = 0;
};

}  // namespace q9m::protocol
