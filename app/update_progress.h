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
  Verifying,     // every row done; reading the written ranges back (--verify)
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
  int errorId = 0;                       // the string id of the reported error, 0 for none
  std::optional<uint32_t> errorAddress;  // the flash address the error names, if it names one
  std::string errorDetail;               // what was found there
  uint64_t verifyDone = 0;               // bytes read back and compared so far
  uint64_t verifyTotal = 0;              // bytes the read-back compares

  // Of the bytes to write; while verifying, of the bytes to read back.
  double Percent() const {
    if (phase == UpdatePhase::Verifying) return verifyTotal ? 100.0 * verifyDone / verifyTotal : 0;
    return bytesTotal ? 100.0 * bytesDone / bytesTotal : 0;
  }
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
  void ErrorAt(int stringId, uint32_t address, const std::string& detail) {
    errorId_ = stringId;
    errorAddress_ = address;
    errorDetail_ = detail;
  }

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
  std::optional<uint32_t> errorAddress_;
  std::string errorDetail_;
  bool verifying_ = false;  // "Verifying" shown after the last row
  int verifyRange_ = 0;
  int verifyPosition_ = 0;
  std::deque<std::pair<Clock::time_point, uint64_t>> samples_;
};

}  // namespace q9m::app
