// The worker's view in q9m-update-cli: it records what the worker shows in an UpdateProgress
// for the reporting thread to read, and marks the run's end.
#pragma once

#include <atomic>
#include <mutex>

#include "app/update_progress.h"
#include "protocol/update_view.h"
#include "ui/update_session.h"

namespace q9m::app {

class ConsoleView final : public protocol::UpdateView {
 public:
  ConsoleView(ui::UpdateSession& session, UpdateProgress::Clock::time_point start)
      : session_(session), progress_(start) {}

  void SetActivityText(const std::string& text) override;
  void SetStepText(const std::string& text) override;
  void SetProgressRange(int lowest, int highest) override;
  void SetProgressPosition(int position) override;
  void ReportError(int stringId) override;
  void ReportErrorAt(int stringId, uint32_t address, const std::string& detail) override;
  void RestoreControls() override;
  void EnableExecute(bool) override {}

  // True once the worker has reported its end: completed or failed.
  bool Finished() const { return finished_.load(); }
  ProgressSnapshot Snapshot(UpdateProgress::Clock::time_point now) const;

 private:
  ui::UpdateSession& session_;
  mutable std::mutex mutex_;
  UpdateProgress progress_;
  std::atomic<bool> finished_{false};
};

}  // namespace q9m::app
