// A view that records what the worker shows, in order, for tests.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/update_view.h"

namespace q9m::testing {

class RecordingView : public protocol::UpdateView {
 public:
  void SetActivityText(const std::string& text) override;
  void SetStepText(const std::string& text) override;
  void SetProgressRange(int lowest, int highest) override;
  void SetProgressPosition(int position) override;
  void ReportError(int stringId) override;
  void ReportErrorAt(int stringId, uint32_t address, const std::string& detail) override;
  void RestoreControls() override;
  void EnableExecute(bool enable) override;

  // Waits until the worker restored the controls (after an error or a completed run).
  bool WaitForRestore(int timeoutMs);

  struct Snapshot {
    std::vector<std::string> steps;
    std::vector<int> errors;
    std::vector<uint32_t> errorAddresses;  // of the errors reported with one
    std::string errorDetail;
    std::string activity;
    std::vector<std::string> activities;  // every change, in order
    int rangeHigh = -1;
    int position = -1;
    int restores = 0;
    bool executeEnabled = true;
    int calls = 0;  // every call of any kind
  };
  Snapshot Get();

  // Runs in RestoreControls, as the dialog clears its busy flag there.
  std::function<void()> onRestore;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Snapshot s_;
};

}  // namespace q9m::testing
