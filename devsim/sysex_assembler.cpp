#include "devsim/sysex_assembler.h"

namespace q9m::devsim {

namespace {

// The length of a short message from its status byte.
size_t ShortLength(uint8_t status) {
  if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3;  // program change, pressure: 2
  if (status == 0xF1 || status == 0xF3) return 2;
  return status == 0xF2 ? 3 : 1;
}

}  // namespace

void SysExAssembler::Add(const uint8_t* bytes, size_t n) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0xF8) {
      deliver_(&byte, 1);  // real-time bytes may come in the middle of a message
      continue;
    }
    if (skipping_) {
      skipping_ = byte < 0x80;  // its data bytes and F7 go; a new status byte starts afresh
      if (byte < 0x80 || byte == 0xF7) continue;
    }
    if (byte == 0xF7 && !partial_.empty() && partial_[0] == 0xF0) {
      partial_.push_back(byte);
      Flush();
    } else if (byte >= 0x80) {
      Flush();  // a status byte ends an unfinished message: the device sees it cut
      partial_.push_back(byte);
      need_ = byte == 0xF0 ? 0 : ShortLength(byte);
    } else if (!partial_.empty()) {
      partial_.push_back(byte);
    } else {
      deliver_(&byte, 1);  // a stray data byte
    }
    if (need_ > 0 && partial_.size() == need_) Flush();
  }
}

void SysExAssembler::Abandon() {
  std::lock_guard lock(mutex_);
  partial_.clear();
  need_ = 0;
  skipping_ = true;
}

void SysExAssembler::Flush() {
  if (!partial_.empty()) deliver_(partial_.data(), partial_.size());
  partial_.clear();
  need_ = 0;
}

}  // namespace q9m::devsim
