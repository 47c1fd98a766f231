// Follows an update from what the worker shows (step field, progress bar, activity text) and
// tells where it stands: the phase, the flash plan's row and address, the bytes acknowledged of
// the whole plan, the recent rate and the time left. Pure: the caller supplies the clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace q9m::app {

enum class UpdatePhase {
  Identifying,   // identity request sent, the device not yet accepted
  Starting,      // BeginUpdate sent, then the version read: the flash is not yet touched
  Erasing,       // a plan row that erases a range
  Writing,       // a plan row that writes an image
  EndingUpdate,  // every row done; EndUpdate sent
  Completed,
};

struct ProgressSnapshot {
  UpdatePhase phase = UpdatePhase::Identifying;
  int step = 0;  // the step field: 0 before the plan, then 1 to `steps`
  int steps = 12;
  uint32_t rowAddress = 0;  // first flash address of the current row
  uint32_t rowLength = 0;   // bytes the row erases or writes
  uint32_t imageId = 0;     // the image a write row sends
  uint32_t rowDone = 0;     // bytes of a write row that the device has acknowledged
  uint64_t bytesDone = 0;   // acknowledged bytes of every write row so far
  uint64_t bytesTotal = 0;  // bytes the plan writes (less the rows the version check skips)
  std::optional<double> bytesPerSecond;  // over the last few seconds; nothing until known
  std::optional<double> secondsLeft;     // at that rate; nothing while nothing moves
  double elapsedSeconds = 0;
  int errorId = 0;  // the string id of the reported error, 0 for none

  double Percent() const { return bytesTotal ? 100.0 * bytesDone / bytesTotal : 0; }
  // The address of the block being written (or erased range's start).
  uint32_t CurrentAddress() const { return rowAddress + rowDone; }
};

class UpdateProgress {
 public:
  using Clock = std::chrono::steady_clock;
  // The span of time that the rate is taken over.
  static constexpr std::chrono::seconds kRateWindow{5};

  explicit UpdateProgress(Clock::time_point start);

  // The worker's calls, as the view receives them.
  void Step(const std::string& stepText);
  void Range(int highest);
  void Position(int position, Clock::time_point now);
  void Activity(const std::string& text);
  void Error(int stringId) { errorId_ = stringId; }

  UpdatePhase Phase() const;
  ProgressSnapshot Snapshot(Clock::time_point now) const;

 private:
  // The bytes acknowledged at `t`, from the samples kept.
  uint64_t BytesAt(Clock::time_point t) const;
  void LeaveRow();

  Clock::time_point start_;
  int step_ = 0;
  bool beginSent_ = false;  // "Erasing Flash memory." shown before the plan: BeginUpdate sent
  bool completed_ = false;
  bool rowStarted_ = false;  // the current row set its progress range
  int rowRange_ = 0;
  int rowPosition_ = 0;
  uint64_t doneBeforeRow_ = 0;
  uint64_t total_;
  int errorId_ = 0;
  std::deque<std::pair<Clock::time_point, uint64_t>> samples_;
};

}  // namespace q9m::app
