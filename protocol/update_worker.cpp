#include "protocol/update_worker.h"

#include <algorithm>
#include <cstring>

#include "firmware/firmware_images.h"
#include "firmware/flash_plan.h"
#include "protocol/string_table.h"

namespace q9m::protocol {

UpdateWorker::UpdateWorker(UpdateContext& context, UpdateView& view, UpdateOptions options)
    : context_(context), view_(view), options_(std::move(options)) {}

bool UpdateWorker::Closing() const {
  return context_.closing.Raised();
}

int UpdateWorker::Status() const {
  return context_.replyStatus.load(std::memory_order_relaxed);
}

UpdateWorker::Reply UpdateWorker::WaitForReply(uint32_t timeoutMs) {
  const bool signalled = context_.replyEvent.Wait(timeoutMs);
  if (Closing()) return Reply::Closing;
  if (!signalled) return Reply::TimedOut;
  return Status() == kStatusClosing ? Reply::Closing : Reply::Signalled;
}

bool UpdateWorker::AwaitReply(uint32_t timeoutMs, int timeoutError) {
  switch (WaitForReply(timeoutMs)) {
    case Reply::Closing:
      return false;
    case Reply::TimedOut:
      ReportError(timeoutError);
      return false;
    case Reply::Signalled:
      break;
  }
  return true;
}

bool UpdateWorker::Pause(uint32_t milliseconds) {
  return context_.closing.SleepFor(milliseconds) && !Closing();
}

void UpdateWorker::ShowActivity(const std::string& text) {
  if (!Closing() && !quiet_) view_.SetActivityText(text);
}

void UpdateWorker::ShowActivity(int stringId) {
  ShowActivity(std::string(LoadString(stringId)));
}

void UpdateWorker::ShowStep(int step) {
  if (!Closing()) view_.SetStepText(FormatStep(step, kPlanSteps));
}

void UpdateWorker::ShowProgressRange(int highest) {
  if (!Closing() && !quiet_) view_.SetProgressRange(0, highest);
}

void UpdateWorker::ShowProgress(int position) {
  if (!Closing() && !quiet_) view_.SetProgressPosition(position);
}

// The run is over once it fails: whatever holds the system awake goes before the error box.
void UpdateWorker::ReportError(int stringId) {
  hold_.reset();
  if (!Closing()) view_.ReportError(stringId);
}

void UpdateWorker::ReportErrorAt(int stringId, uint32_t address, const std::string& detail) {
  hold_.reset();
  if (!Closing()) view_.ReportErrorAt(stringId, address, detail);
}

void UpdateWorker::TakeHold() {
  if (!hold_ && options_.holdWhileWriting) hold_ = options_.holdWhileWriting();
}

int UpdateWorker::RunUpdate() {
  ShowStep(0);

  // Identify the device.
  if (context_.sender.SendIdentityRequest() != 0) {
    ReportError(IDS_CANT_OPEN_MIDI_OUT);
    return 0;
  }
  if (!AwaitReply(kIdentityReplyTimeoutMs, IDS_TIMEOUT_1)) return 0;
  if (Status() != kStatusSuccess) {
    ReportError(IDS_ILLEGAL_DEVICE);
    return 0;
  }
  // Kept even when the code is rejected: the dispatcher matches replies against it.
  const DeviceCodeBytes code = context_.receivedDeviceCode.Get();
  context_.device.deviceCode.Set(code);
  const auto& accepted = firmware::AcceptedDeviceCodes;
  if (std::none_of(accepted.begin(), accepted.end(), [&](const auto& c) {
        return std::memcmp(c.data(), code.data(), code.size()) == 0;
      })) {
    ReportError(IDS_ILLEGAL_DEVICE);
    return 0;
  }
  context_.sender.SetHostIdentity(code);

  // Ask the device to begin the update.
  context_.sender.SendBeginUpdate();
  ShowActivity(IDS_ERASING);
  if (!AwaitReply(kBeginUpdateTimeoutMs, IDS_TIMEOUT_1)) return 0;
  ShowActivity(std::string());
  const int status = Status();
  if (status == kStatusNotInUpdateMode) {
    ReportError(IDS_SET_UPDATE_MODE);
    return 0;
  }
  if (status != kStatusSuccess) {
    ReportError(IDS_TRANSFER_ERROR);
    return 0;
  }
  if (!Pause(kPauseAfterBeginUpdateMs)) return 0;

  if (RunFlashPlan() != 0) return 0;
  if (options_.verifyAfterWriting && RunVerify() != 0) return 0;

  // Tell the device that the update is over; any reply counts.
  context_.sender.SendEndUpdate();
  if (!AwaitReply(kEndUpdateTimeoutMs, IDS_TRANSFER_ERROR)) return 0;
  hold_.reset();
  if (Closing()) return 0;
  view_.SetActivityText(LoadString(IDS_UPDATE_COMPLETED));
  view_.RestoreControls();
  view_.EnableExecute(false);
  return 0;
}

int UpdateWorker::RunFlashPlan() {
  bool runAddressZeroRows = true;

  // Version check: the rows at address 0 run only when the device holds another version.
  const auto& plan = firmware::FlashPlan;
  if (std::any_of(plan.begin(), plan.end(), [](const auto& row) { return row.address == 0; })) {
    context_.device.readBack.Reset();
    context_.sender.SendReadRequest(firmware::kVersionAddress, firmware::kVersionLength);
    if (!AwaitReply(kReadReplyTimeoutMs, IDS_TIMEOUT_1)) return -1;
    if (Status() != kStatusSuccess) {
      ReportError(IDS_TRANSFER_ERROR);
      return -1;
    }
    // Only the four bytes this read returned may skip the rows: a wait that ended on another
    // reply leaves the buffer with fewer, and what lies beyond them is an earlier run's.
    const auto reference = firmware::FindImage(firmware::kVersionImageId);
    uint8_t onDevice[firmware::kVersionLength];
    if (reference && reference->length >= firmware::kVersionImageOffset + sizeof onDevice &&
        context_.device.readBack.Count() == sizeof onDevice &&
        context_.device.readBack.Read(0, onDevice, sizeof onDevice) &&
        std::memcmp(onDevice, reference->bytes + firmware::kVersionImageOffset, sizeof onDevice) ==
            0) {
      runAddressZeroRows = false;
    }
  }

  for (int j = 0; j < static_cast<int>(plan.size()); ++j) {
    const auto& row = plan[j];
    ShowStep(j + 1);
    if (row.address == 0 && !runAddressZeroRows) continue;
    if (row.kind == firmware::kEraseStep) {
      if (RunEraseStep(row.address, row.size) != 0) return -1;
    } else if (row.kind == firmware::kWriteStep) {
      if (RunWriteStep(row.address, row.size, row.imageId) != 0) return -1;
    }
  }
  return 0;
}

int UpdateWorker::RunEraseStep(uint32_t address, uint32_t size) {
  ShowProgressRange(kEraseProgressRange);
  TakeHold();
  int failures = 0;
  for (;;) {
    context_.sender.SendEraseRange(context_.device.deviceCode.ModelByte(), address, size);
    ShowProgress(1);
    ShowActivity(IDS_ERASING);
    // An erase is never sent again after a time-out.
    if (!AwaitReply(kEraseReplyTimeoutMs, IDS_TIMEOUT_3)) return -1;
    if (Status() == kStatusSuccess) {
      ShowProgress(kEraseProgressRange);
      erased_.emplace_back(address, size);
      return 0;
    }
    if (failures++ > kMaxEraseSends - 2) {
      ReportError(IDS_TRANSFER_ERROR);
      return -1;
    }
    if (!Pause(kPauseBeforeResendMs)) return -1;
  }
}

int UpdateWorker::RunWriteStep(uint32_t address, uint32_t size, uint32_t imageId) {
  const auto image = firmware::FindImage(imageId);
  const uint32_t total = size != 0 ? size : image ? static_cast<uint32_t>(image->length) : 0;
  if (!image || total > image->length) {
    // The build checks every image against the plan, so this is never reached in a product.
    ReportError(IDS_TRANSFER_ERROR);
    return -1;
  }
  if (WriteBlocks(address, image->bytes, total) != 0) return -1;
  written_.push_back({address, total, image->bytes});
  return 0;
}

int UpdateWorker::WriteBlocks(uint32_t address, const uint8_t* bytes, uint32_t total) {
  ShowProgressRange(static_cast<int>(total));
  uint32_t offset = 0;
  uint32_t blockLength = kWriteBlockSize;
  int failures = 0;
  // Sends of the current block whose wait ran out: their replies may still come.
  int unanswered = 0;
  for (;;) {
    if (offset + blockLength > total) blockLength = total - offset;
    context_.sender.SendWriteBlock(context_.device.deviceCode.ModelByte(), bytes + offset,
                                   address + offset, blockLength);
    ShowActivity(FormatDataTransmit(static_cast<int>(offset), static_cast<int>(total)));
    const Reply reply = WaitForReply(kWriteReplyTimeoutMs);
    if (reply == Reply::Closing) return -1;
    if (reply == Reply::TimedOut) {
      ++unanswered;
    } else {
      // Replies carry no sequence number: the one just taken may be a late reply to an earlier
      // send of this block. Take what is still on its way before the next block goes out and
      // let the last reply decide, so that none is left over to answer another block's wait.
      for (; unanswered > 0; --unanswered) {
        const Reply later = WaitForReply(kWriteReplyTimeoutMs);
        if (later == Reply::Closing) return -1;
        if (later == Reply::TimedOut) break;
      }
      unanswered = 0;
    }
    if (reply == Reply::Signalled && Status() == kStatusSuccess) {
      failures = 0;
      offset += blockLength;
      ShowProgress(static_cast<int>(offset));
      if (offset >= total) return 0;
      continue;
    }
    // A time-out or an error reply: the same block goes out again, up to 32 sends in a row.
    if (failures++ > kMaxBlockSends - 2) {
      ReportError(reply == Reply::TimedOut ? IDS_TIMEOUT_2 : IDS_TRANSFER_ERROR);
      return -1;
    }
    if (!Pause(kPauseBeforeResendMs)) return -1;
  }
}

int RunUpdate(UpdateContext& context, UpdateView& view, UpdateOptions options) {
  return UpdateWorker(context, view, std::move(options)).RunUpdate();
}

}  // namespace q9m::protocol
