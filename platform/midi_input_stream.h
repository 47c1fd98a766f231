// One open input port as the driver sees it: the headers the owner has handed over, and the
// parser that turns the incoming byte stream into filled headers (System Exclusive) and packed
// short messages, delivered through the owner's callback.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "platform/midi_service.h"

namespace q9m::platform {

class MidiInputStream final : public InputReceiver {
 public:
  MidiInputStream(HMIDIIN handle, MidiInProc callback, uintptr_t instance);

  void AttachSource(std::unique_ptr<InputSource> source);
  InputSource& Source() { return *source_; }

  MMRESULT AddBuffer(MIDIHDR* header);
  // True while the port holds the header (queued or being filled).
  bool Holds(const MIDIHDR* header);
  void Start();
  void Stop();
  // Stops input and returns every held header, done, with 0 bytes recorded.
  void Reset();
  // Refused while headers are still held; afterwards no callback runs any more.
  MMRESULT Close();

  void Receive(const uint8_t* bytes, size_t n) override;
  // Abandons a half-received message and drops data bytes up to the next status byte.
  void Lost() override;

 private:
  enum class SysEx { None, Filling, Dropping };

  bool HoldsLocked(const MIDIHDR* header) const;
  void Notify(uint32_t message, uintptr_t param1, uintptr_t param2);
  void AppendSysEx(uint8_t byte);
  void DeliverFilling();
  void AbandonPartial();
  void ShortByte(uint8_t byte);
  void DeliverShort();
  void ForgetShort();

  const HMIDIIN handle_;
  const MidiInProc callback_;
  const uintptr_t instance_;
  std::unique_ptr<InputSource> source_;

  // Serialises delivery with Start, Stop, Reset and Close; held while callbacks run, which
  // may hand headers back (AddBuffer takes only queueMutex_).
  std::mutex deliverMutex_;
  bool started_ = false;
  bool closed_ = false;
  SysEx sysex_ = SysEx::None;
  uint8_t shortBytes_[3] = {};
  int shortCount_ = 0;
  int shortNeed_ = 0;
  uint8_t runningStatus_ = 0;

  std::mutex queueMutex_;
  std::deque<MIDIHDR*> queued_;
  MIDIHDR* filling_ = nullptr;
};

}  // namespace q9m::platform
