// One whole update, from identifying the device to telling it that the update is over. It
// sends every command, waits for the dispatcher's verdict on ReplyEvent, runs the flash plan
// row by row, and shows its progress through the view.
//
// Once the window is closing the worker stops at its next wait, pause or step and never
// touches the view again; a failure is reported once, by the step that failed.
#pragma once

#include <cstdint>

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

class UpdateWorker {
 public:
  UpdateWorker(UpdateContext& context, UpdateView& view);

  // The whole run; 0 in every case.
  int RunUpdate();
  // The twelve rows after the version check: 0 when all ran or were skipped, -1 on failure.
  int RunFlashPlan();
  int RunEraseStep(uint32_t address, uint32_t size);
  // Writes the first `size` bytes of image `imageId` (all of it when size is 0).
  int RunWriteStep(uint32_t address, uint32_t size, uint32_t imageId);

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

  // The view, unless the window is closing.
  void ShowActivity(const std::string& text);
  void ShowActivity(int stringId);
  void ShowStep(int step);
  void ShowProgressRange(int highest);
  void ShowProgress(int position);
  void ReportError(int stringId);

  UpdateContext& context_;
  UpdateView& view_;
};

// The worker thread's procedure.
int RunUpdate(UpdateContext& context, UpdateView& view);

}  // namespace q9m::protocol
