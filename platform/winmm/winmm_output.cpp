#include "platform/winmm/winmm_output.h"

namespace q9m::platform::winmm {

namespace {

// After a reset, the driver gives every buffer back at once; this only bounds a driver that
// does not.
constexpr uint32_t kResetDoneTimeoutMs = 1000;

}  // namespace

uint32_t SendDoneTimeoutMs(uint32_t bytes) {
  return 2000 + bytes;  // 1 ms a byte: three times a cable's time
}

MMRESULT WinmmOutput::SendLong(MIDIHDR* header) {
  if (!device_) return MMSYSERR_INVALHANDLE;
  Pending& pending = *pending_;
  pending.bytes.assign(header->lpData, header->lpData + header->dwBufferLength);
  const Result result = SendAndWait(pending);
  if (result == kNoError) MarkDone(header);
  return result;
}

Result WinmmOutput::SendAndWait(Pending& pending) {
  pending.buffer = LongBuffer{pending.bytes.data(), static_cast<uint32_t>(pending.bytes.size())};
  if (const Result refused = device_->Prepare(pending.buffer)) return refused;
  const Result sent = device_->Send(pending.buffer);
  if (sent != kNoError) {
    device_->Unprepare(pending.buffer);
    return sent;
  }
  if (device_->WaitDone(pending.buffer, SendDoneTimeoutMs(pending.buffer.length))) {
    device_->Unprepare(pending.buffer);
    return kNoError;
  }
  // Not finished in time: the device is gone or stuck. A reset makes the driver let go.
  device_->Reset();
  if (device_->WaitDone(pending.buffer, kResetDoneTimeoutMs) &&
      device_->Unprepare(pending.buffer) == kNoError) {
    return kNotReady;
  }
  abandoned_.push_back(std::move(pending_));
  pending_ = std::make_unique<Pending>();
  return kNotReady;
}

MMRESULT WinmmOutput::SendShort(uint32_t packed) {
  return device_ ? device_->SendShort(packed) : MMSYSERR_INVALHANDLE;
}

void WinmmOutput::Close() {
  if (!device_) return;
  // Sends do not overlap with Close, so no buffer of ours is in flight but an abandoned one.
  // Only then is the port reset: a reset also sends "all notes off" on every channel, which
  // the device is not to see.
  if (!abandoned_.empty()) device_->Reset();
  for (auto& pending : abandoned_) device_->Unprepare(pending->buffer);
  const bool closed = device_->Close() == kNoError;
  device_.reset();
  if (!closed) {
    for (auto& pending : abandoned_)
      static_cast<void>(pending.release());  // the driver may still read them
  }
  abandoned_.clear();
}

}  // namespace q9m::platform::winmm
