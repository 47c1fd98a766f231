#include "tests/support/recording_view.h"

#include <chrono>

namespace q9m::testing {

void RecordingView::SetActivityText(const std::string& text) {
  std::lock_guard lock(mutex_);
  ++s_.calls;
  s_.activity = text;
  // Block counters change with every block: keep only the first of a run of them.
  if (s_.activities.empty() || s_.activities.back().rfind("Data transmit", 0) != 0 ||
      text.rfind("Data transmit", 0) != 0) {
    s_.activities.push_back(text);
  }
}

void RecordingView::SetStepText(const std::string& text) {
  std::lock_guard lock(mutex_);
  ++s_.calls;
  s_.steps.push_back(text);
}

void RecordingView::SetProgressRange(int, int highest) {
  std::lock_guard lock(mutex_);
  ++s_.calls;
  s_.rangeHigh = highest;
}

void RecordingView::SetProgressPosition(int position) {
  std::lock_guard lock(mutex_);
  ++s_.calls;
  s_.position = position;
}

void RecordingView::ReportError(int stringId) {
  {
    std::lock_guard lock(mutex_);
    ++s_.calls;
    s_.errors.push_back(stringId);
  }
  RestoreControls();
}

void RecordingView::ReportErrorAt(int stringId, uint32_t address, const std::string& detail) {
  {
    std::lock_guard lock(mutex_);
    s_.errorAddresses.push_back(address);
    s_.errorDetail = detail;
  }
  ReportError(stringId);
}

void RecordingView::RestoreControls() {
  {
    std::lock_guard lock(mutex_);
    ++s_.calls;
    ++s_.restores;
    s_.executeEnabled = true;
  }
  if (onRestore) onRestore();
  changed_.notify_all();
}

void RecordingView::EnableExecute(bool enable) {
  std::lock_guard lock(mutex_);
  ++s_.calls;
  s_.executeEnabled = enable;
}

bool RecordingView::WaitForRestore(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return s_.restores > 0; });
}

RecordingView::Snapshot RecordingView::Get() {
  std::lock_guard lock(mutex_);
  return s_;
}

}  // namespace q9m::testing
