#include "app/console_view.h"

namespace q9m::app {

void ConsoleView::SetActivityText(const std::string& text) {
  std::lock_guard lock(mutex_);
  progress_.Activity(text);
}

void ConsoleView::SetStepText(const std::string& text) {
  std::lock_guard lock(mutex_);
  progress_.Step(text);
}

void ConsoleView::SetProgressRange(int, int highest) {
  std::lock_guard lock(mutex_);
  progress_.Range(highest);
}

void ConsoleView::SetProgressPosition(int position) {
  std::lock_guard lock(mutex_);
  progress_.Position(position, UpdateProgress::Clock::now());
}

void ConsoleView::ReportError(int stringId) {
  {
    std::lock_guard lock(mutex_);
    progress_.Error(stringId);
  }
  RestoreControls();
}

void ConsoleView::ReportErrorAt(int stringId, uint32_t address, const std::string& detail) {
  {
    std::lock_guard lock(mutex_);
    progress_.ErrorAt(stringId, address, detail);
  }
  RestoreControls();
}

void ConsoleView::RestoreControls() {
  session_.ClearBusy();
  finished_.store(true);
}

ProgressSnapshot ConsoleView::Snapshot(UpdateProgress::Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  return progress_.Snapshot(now);
}

}  // namespace q9m::app
