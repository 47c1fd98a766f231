#include "platform/midi_input_stream.h"

#include <algorithm>

namespace q9m::platform {

namespace {

// Data bytes that follow a status byte, or -1 for one that carries no message of its own.
int DataBytesAfter(uint8_t status) {
  if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 1 : 2;
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 1;
    case 0xF2:
      return 2;
    case 0xF6:
      return 0;
    default:
      return -1;
  }
}

}  // namespace

MidiInputStream::MidiInputStream(HMIDIIN handle, MidiInProc callback, uintptr_t instance)
    : handle_(handle), callback_(callback), instance_(instance) {}

void MidiInputStream::AttachSource(std::unique_ptr<InputSource> source) {
  source_ = std::move(source);
}

void MidiInputStream::Notify(uint32_t message, uintptr_t param1, uintptr_t param2) {
  if (callback_ != nullptr) callback_(handle_, message, instance_, param1, param2);
}

MMRESULT MidiInputStream::AddBuffer(MIDIHDR* header) {
  std::lock_guard lock(queueMutex_);
  if (HoldsLocked(header)) return MIDIERR_STILLPLAYING;
  header->dwBytesRecorded = 0;
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  queued_.push_back(header);
  return MMSYSERR_NOERROR;
}

bool MidiInputStream::Holds(const MIDIHDR* header) {
  std::lock_guard lock(queueMutex_);
  return HoldsLocked(header);
}

bool MidiInputStream::HoldsLocked(const MIDIHDR* header) const {
  return filling_ == header || std::find(queued_.begin(), queued_.end(), header) != queued_.end();
}

void MidiInputStream::Start() {
  std::lock_guard lock(deliverMutex_);
  started_ = true;
}

void MidiInputStream::Stop() {
  std::lock_guard lock(deliverMutex_);
  started_ = false;
  AbandonPartial();
  ForgetShort();
}

void MidiInputStream::Reset() {
  std::lock_guard lock(deliverMutex_);
  started_ = false;
  AbandonPartial();
  ForgetShort();
  // Returns the headers held now. One that the callback hands straight back is held again
  // afterwards; taking it from the queue again here would never end.
  std::deque<MIDIHDR*> held;
  {
    std::lock_guard queueLock(queueMutex_);
    held.swap(queued_);
  }
  for (MIDIHDR* header : held) {
    header->dwBytesRecorded = 0;
    MarkDone(header);
    Notify(MIM_LONGDATA, reinterpret_cast<uintptr_t>(header), 0);
  }
}

void MidiInputStream::ForgetShort() {
  // A short message cut off by a stop must not be completed by the bytes after a restart,
  // nor may data bytes after a restart (the rest of a System Exclusive message, say) be read
  // under a running status from before.
  shortCount_ = 0;
  shortNeed_ = 0;
  runningStatus_ = 0;
}

MMRESULT MidiInputStream::Close() {
  {
    std::lock_guard lock(deliverMutex_);
    {
      std::lock_guard queueLock(queueMutex_);
      if (filling_ != nullptr || !queued_.empty()) return MIDIERR_STILLPLAYING;
    }
    started_ = false;
    closed_ = true;
  }
  // Outside deliverMutex_: the source's thread may be waiting in Receive for it.
  if (source_) source_->Close();
  Notify(MIM_CLOSE, 0, 0);
  return MMSYSERR_NOERROR;
}

void MidiInputStream::AbandonPartial() {
  // A message cut off by a status byte, a stop or a reset is never delivered: its header goes
  // back to the front of the queue, empty.
  std::lock_guard lock(queueMutex_);
  if (filling_ != nullptr) {
    filling_->dwBytesRecorded = 0;
    queued_.push_front(filling_);
    filling_ = nullptr;
  }
  sysex_ = SysEx::None;
}

void MidiInputStream::DeliverFilling() {
  MIDIHDR* header;
  {
    std::lock_guard lock(queueMutex_);
    header = filling_;
    filling_ = nullptr;
  }
  MarkDone(header);
  Notify(MIM_LONGDATA, reinterpret_cast<uintptr_t>(header), 0);
}

void MidiInputStream::AppendSysEx(uint8_t byte) {
  MIDIHDR* header;
  {
    std::lock_guard lock(queueMutex_);
    if (filling_ == nullptr && !queued_.empty()) {
      filling_ = queued_.front();
      queued_.pop_front();
    }
    header = filling_;
  }
  if (header == nullptr) {
    // No buffer to hold the message: drop the rest of it rather than merge it into another.
    sysex_ = SysEx::Dropping;
    return;
  }
  header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
  if (byte == 0xF7) {
    sysex_ = SysEx::None;
    DeliverFilling();
  } else if (header->dwBytesRecorded >= header->dwBufferLength) {
    DeliverFilling();  // full: the message continues in the next header
  }
}

void MidiInputStream::DeliverShort() {
  uint32_t packed =
      shortBytes_[0] | (uint32_t{shortBytes_[1]} << 8) | (uint32_t{shortBytes_[2]} << 16);
  shortCount_ = 0;
  shortNeed_ = 0;
  shortBytes_[1] = shortBytes_[2] = 0;
  Notify(MIM_DATA, packed, 0);
}

void MidiInputStream::ShortByte(uint8_t byte) {
  if (byte >= 0x80) {
    int need = DataBytesAfter(byte);
    runningStatus_ = byte < 0xF0 ? byte : 0;
    shortCount_ = 0;
    shortNeed_ = 0;
    if (need < 0) return;
    shortBytes_[0] = byte;
    shortCount_ = 1;
    shortNeed_ = need;
    if (need == 0) DeliverShort();
    return;
  }
  if (shortNeed_ == 0) {
    if (runningStatus_ == 0) return;  // a stray data byte
    shortBytes_[0] = runningStatus_;
    shortCount_ = 1;
    shortNeed_ = DataBytesAfter(runningStatus_);
  }
  shortBytes_[shortCount_++] = byte;
  if (shortCount_ == shortNeed_ + 1) DeliverShort();
}

void MidiInputStream::Lost() {
  std::lock_guard lock(deliverMutex_);
  AbandonPartial();
  ForgetShort();
  sysex_ = SysEx::Dropping;  // the data bytes that follow belong to a message cut in two
}

void MidiInputStream::Receive(const uint8_t* bytes, size_t n) {
  std::lock_guard lock(deliverMutex_);
  if (!started_ || closed_) return;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0xF8) {
      Notify(MIM_DATA, byte, 0);  // real-time bytes may stand anywhere, even inside SysEx
    } else if (byte == 0xF0) {
      AbandonPartial();
      shortNeed_ = 0;
      runningStatus_ = 0;
      sysex_ = SysEx::Filling;
      AppendSysEx(byte);
    } else if (sysex_ == SysEx::Filling && (byte < 0x80 || byte == 0xF7)) {
      AppendSysEx(byte);
    } else if (sysex_ == SysEx::Dropping && (byte < 0x80 || byte == 0xF7)) {
      if (byte == 0xF7) sysex_ = SysEx::None;
    } else {
      if (sysex_ != SysEx::None) AbandonPartial();
      if (byte != 0xF7) ShortByte(byte);
    }
  }
}

}  // namespace q9m::platform
