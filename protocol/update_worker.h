// One whole update, from identifying the device to telling it that the update is over. It
// sends every command, waits for the dispatcher's verdict on ReplyEvent, runs the flash plan
// row by row, and shows its progress through the view.
//
// Once the window is closing the worker stops at its next wait, pause or step and never
// touches the view again; a failure is reported once, by the step that failed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/messages.h"
#include "protocol/update_context.h"
#include "protocol/update_view.h"

namespace q9m::protocol {

// Time-outs, pauses and limits, in milliseconds, bytes and sends.
inline constexpr uint32_t kIdentityReplyTimeoutMs = 30'000;
inline constexpr uint32_t kBeginUpdateTimeoutMs = 30'000;
inline constexpr uint32_t kPauseAfterBeginUpdateMs = 500;
inline constexpr uint32_t kReadReplyTimeoutMs = 60'000;
inline constexpr uint32_t kEraseReplyTimeoutMs = 60'000;
inline constexpr uint32_t kWriteReplyTimeoutMs = 1'000;
inline constexpr uint32_t kEndUpdateTimeoutMs = 30'000;
inline constexpr uint32_t kPauseBeforeResendMs = 100;
inline constexpr uint32_t kWriteBlockSize = 4'096;
inline constexpr int kMaxEraseSends = 7;
inline constexpr int kMaxBlockSends = 32;
inline constexpr int kPlanSteps = 12;
inline constexpr int kEraseProgressRange = 10;

// Verifying by read-back: the written ranges are read in pieces as long as one ReadDataReply
// can carry (its two-septet count) and the input port's receive buffer can take whole, and a
// 4 KiB sector that differs is erased and written once more.
inline constexpr uint32_t kMaxReadLength = 16'383;
constexpr uint32_t LongestWholeRead(size_t bufferSize) {
  uint32_t n = kMaxReadLength;
  while (n > 1 && ReadDataReplyLength(n) > bufferSize) --n;
  return n;
}
inline constexpr uint32_t kVerifyReadLength = LongestWholeRead(midi::kSysExBufferSize);
inline constexpr uint32_t kSectorSize = 4'096;

struct UpdateOptions {
  // Read every written range back before EndUpdate and repair a sector that differs, once.
  bool verifyAfterWriting = false;
  // Called on the worker's thread before the first erase; what it returns is kept until the
  // run ends (completed, failed or stopped) and then dropped on the same thread.
  std::function<std::shared_ptr<void>()> holdWhileWriting;
};

class UpdateWorker {
 public:
  UpdateWorker(UpdateContext& context, UpdateView& view, UpdateOptions options = {});

  // The whole run; 0 in every case.
  int RunUpdate();
  // The twelve rows after the version check: 0 when all ran or were skipped, -1 on failure.
  int RunFlashPlan();
  int RunEraseStep(uint32_t address, uint32_t size);
  // Writes the first `size` bytes of image `imageId` (all of it when size is 0).
  int RunWriteStep(uint32_t address, uint32_t size, uint32_t imageId);
  // Reads back every range this run wrote and compares it with the image: 0 when all match
  // (after repairing sectors that did not), -1 on failure (reported, or a quiet stop).
  int RunVerify();

 private:
  enum class Reply { Signalled, TimedOut, Closing };

  Reply WaitForReply(uint32_t timeoutMs);
  // True when a reply came; on a time-out reports `timeoutError`, and when the window is
  // closing reports nothing. A step that is not awaited again after a time-out uses this.
  bool AwaitReply(uint32_t timeoutMs, int timeoutError);
  // False when the window closed during the pause.
  bool Pause(uint32_t milliseconds);
  bool Closing() const;
  int Status() const;

  // The blocks of `total` bytes from `bytes` at `address`; 0 or -1 as RunWriteStep.
  int WriteBlocks(uint32_t address, const uint8_t* bytes, uint32_t total);
  // A ReadRequest of `length` bytes at `address` into `into`, asked again while its answer
  // arrives hurt (at most kMaxBlockSends times); false when it failed (reported) or the window
  // is closing.
  bool ReadBack(uint32_t address, uint32_t length, uint8_t* into);
  // Erases the sector and writes what this run wrote into it once more, then reads it back.
  int RepairSector(uint32_t sector, uint32_t firstDifference);
  bool ErasedThisRun(uint32_t address, uint32_t length) const;
  void TakeHold();

  // The view, unless the window is closing.
  void ShowActivity(const std::string& text);
  void ShowActivity(int stringId);
  void ShowStep(int step);
  void ShowProgressRange(int highest);
  void ShowProgress(int position);
  void ReportError(int stringId);
  void ReportErrorAt(int stringId, uint32_t address, const std::string& detail);

  // A range that this run wrote, with the bytes it wrote there.
  struct WrittenRange {
    uint32_t address;
    uint32_t length;
    const uint8_t* bytes;
  };

  UpdateContext& context_;
  UpdateView& view_;
  UpdateOptions options_;
  std::shared_ptr<void> hold_;  // what holdWhileWriting returned, until the run ends
  std::vector<WrittenRange> written_;
  std::vector<std::pair<uint32_t, uint32_t>> erased_;  // address, size
  bool quiet_ = false;  // a repair during verification: the progress shown stays the verify's
};

// The worker thread's procedure.
int RunUpdate(UpdateContext& context, UpdateView& view, UpdateOptions options = {});

}  // namespace q9m::protocol
