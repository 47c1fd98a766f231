#include "app/update_progress.h"

#include <cstdio>

#include "firmware/flash_plan.h"
#include "protocol/string_table.h"

namespace q9m::app {

namespace {

const firmware::FlashStep* Row(int step) {
  if (step < 1 || step > static_cast<int>(firmware::FlashPlan.size())) return nullptr;
  return &firmware::FlashPlan[static_cast<size_t>(step - 1)];
}

bool IsWrite(const firmware::FlashStep* row) {
  return row != nullptr && row->kind == firmware::kWriteStep;
}

uint64_t PlanBytes() {
  uint64_t bytes = 0;
  for (const firmware::FlashStep& row : firmware::FlashPlan) bytes += firmware::WriteLength(row);
  return bytes;
}

}  // namespace

UpdateProgress::UpdateProgress(Clock::time_point start) : start_(start), total_(PlanBytes()) {}

void UpdateProgress::Step(const std::string& stepText) {
  int step = 0;
  int steps = 0;
  if (std::sscanf(stepText.c_str(), "%d/%d", &step, &steps) != 2 || step == step_) return;
  LeaveRow();
  step_ = step;
  rowStarted_ = false;
  rowRange_ = 0;
  rowPosition_ = 0;
}

// A write row that never set its range was skipped by the version check: its bytes leave the
// total. One that ran leaves its acknowledged bytes behind it.
void UpdateProgress::LeaveRow() {
  const firmware::FlashStep* row = Row(step_);
  if (!IsWrite(row)) return;
  if (rowStarted_) {
    doneBeforeRow_ += static_cast<uint64_t>(rowPosition_);
  } else {
    total_ -= firmware::WriteLength(*row);
  }
}

void UpdateProgress::Range(int highest) {
  if (verifying_) {
    verifyRange_ = highest;
    return;
  }
  if (step_ < 1) return;
  rowStarted_ = true;
  rowRange_ = highest;
}

void UpdateProgress::Position(int position, Clock::time_point now) {
  if (verifying_) {
    verifyPosition_ = position;
    return;
  }
  if (step_ < 1) return;
  rowPosition_ = position;
  if (!IsWrite(Row(step_))) return;
  samples_.emplace_back(now, doneBeforeRow_ + static_cast<uint64_t>(position));
  // Keep one sample at or before the window's start, so that the rate spans the whole window.
  while (samples_.size() > 2 && samples_[1].first <= now - kRateWindow) samples_.pop_front();
}

void UpdateProgress::Activity(const std::string& text) {
  if (text == protocol::LoadString(protocol::IDS_UPDATE_COMPLETED)) {
    completed_ = true;
  } else if (text == protocol::LoadString(protocol::IDS_VERIFYING)) {
    verifying_ = true;
  } else if (step_ == 0 && text == protocol::LoadString(protocol::IDS_ERASING)) {
    beginSent_ = true;
  }
}

UpdatePhase UpdateProgress::Phase() const {
  if (completed_) return UpdatePhase::Completed;
  const firmware::FlashStep* row = Row(step_);
  if (row == nullptr) return beginSent_ ? UpdatePhase::Starting : UpdatePhase::Identifying;
  if (verifying_) return UpdatePhase::Verifying;
  const bool lastRow = step_ == static_cast<int>(firmware::FlashPlan.size());
  if (lastRow && rowStarted_ && rowPosition_ >= rowRange_) return UpdatePhase::EndingUpdate;
  return IsWrite(row) ? UpdatePhase::Writing : UpdatePhase::Erasing;
}

uint64_t UpdateProgress::BytesAt(Clock::time_point t) const {
  uint64_t bytes = samples_.empty() ? 0 : samples_.front().second;
  for (const auto& [time, done] : samples_) {
    if (time > t) break;
    bytes = done;
  }
  return bytes;
}

ProgressSnapshot UpdateProgress::Snapshot(Clock::time_point now) const {
  ProgressSnapshot s;
  s.phase = Phase();
  s.step = step_;
  s.steps = static_cast<int>(firmware::FlashPlan.size());
  if (const firmware::FlashStep* row = Row(step_)) {
    s.rowAddress = row->address;
    s.rowLength = IsWrite(row) ? firmware::WriteLength(*row) : row->size;
    s.imageId = IsWrite(row) ? row->imageId : 0;
    if (IsWrite(row)) s.rowDone = static_cast<uint32_t>(rowPosition_);
  }
  s.bytesDone = doneBeforeRow_ + (IsWrite(Row(step_)) ? s.rowDone : 0);
  s.bytesTotal = total_;
  s.elapsedSeconds = std::chrono::duration<double>(now - start_).count();
  s.errorId = errorId_;
  s.errorAddress = errorAddress_;
  s.errorDetail = errorDetail_;
  s.verifyDone = static_cast<uint64_t>(verifyPosition_);
  s.verifyTotal = static_cast<uint64_t>(verifyRange_);
  // The write rate says nothing about the read-back.
  if (verifying_) return s;

  if (!samples_.empty()) {
    const Clock::time_point from = std::max(now - kRateWindow, samples_.front().first);
    const double span = std::chrono::duration<double>(now - from).count();
    if (span >= 1.0) {
      const double rate = static_cast<double>(s.bytesDone - BytesAt(from)) / span;
      s.bytesPerSecond = rate;
      if (rate > 0) s.secondsLeft = static_cast<double>(s.bytesTotal - s.bytesDone) / rate;
    }
  }
  return s;
}

}  // namespace q9m::app
