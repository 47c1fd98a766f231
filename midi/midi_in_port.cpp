#include "midi/midi_in_port.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/midi_service.h"
#include "platform/timer_service.h"

namespace q9m::midi {

using namespace q9m::platform;

// ---- SysExQueue ----------------------------------------------------------------------------

SysExQueue::SysExQueue() : head_(new SysExNode), tail_(head_) {}

SysExQueue::~SysExQueue() {
  SysExNode* node = head_;
  while (node != nullptr) {
    SysExNode* next = node->next.load(std::memory_order_acquire);
    delete[] node->data;
    delete node;
    node = next;
  }
}

bool SysExQueue::Append(const uint8_t* bytes, size_t length) {
  auto* data = new (std::nothrow) uint8_t[length];
  if (data == nullptr) return false;
  auto* node = new (std::nothrow) SysExNode;
  if (node == nullptr) {
    delete[] data;
    return false;
  }
  std::memcpy(data, bytes, length);
  node->data = data;
  node->length = length;
  // Publishes the node and its bytes: the consumer's acquire load of this pointer sees both.
  tail_->next.store(node, std::memory_order_release);
  tail_ = node;
  return true;
}

const uint8_t* SysExQueue::Peek(size_t* length) const {
  const SysExNode* first = head_->next.load(std::memory_order_acquire);
  if (length != nullptr) *length = first != nullptr ? first->length : 0;
  return first != nullptr ? first->data : nullptr;
}

void SysExQueue::Drop() {
  SysExNode* first = head_->next.load(std::memory_order_acquire);
  if (first == nullptr) return;
  // The old stub has a successor, so the producer has finished with it.
  delete head_;
  head_ = first;
  delete[] first->data;
  first->data = nullptr;
  first->length = 0;
}

// ---- ShortMsgRing --------------------------------------------------------------------------

void ShortMsgRing::Write(uint32_t packed) {
  const uint32_t at = write_.load(std::memory_order_relaxed);
  // Byte i of the entry is bits 8i..8i+7: count 3, status, data1, data2.
  entries_[at].store(3u | (packed & 0xFFFFFFu) << 8, std::memory_order_relaxed);
  write_.store((at + 1) % kEntries, std::memory_order_release);
}

int ShortMsgRing::Read(uint8_t* buffer, int size) {
  const uint32_t at = read_.load(std::memory_order_relaxed);
  if (at == write_.load(std::memory_order_acquire)) return 0;
  const uint32_t entry = entries_[at].load(std::memory_order_relaxed);
  const int n = std::clamp(static_cast<int>(entry & 0xFF), 0, std::max(size, 0));
  for (int i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>(entry >> (8 * (i + 1)));
  read_.store((at + 1) % kEntries, std::memory_order_release);
  return n;
}

// ---- MidiInPort ----------------------------------------------------------------------------

MidiInPort::~MidiInPort() {
  Stop();
  if (header_ != nullptr && !Shutdown()) {
    // The service refuses to give the header back even now: it stays allocated for the
    // service, which may still write into it.
    header_ = nullptr;
  }
}

uint32_t MidiInPort::GetDeviceCount() {
  return midiInGetNumDevs();
}

void MidiInPort::GetDeviceName(uint32_t index, char* buffer) {
  MIDIINCAPSA caps{};
  const bool described = midiInGetDevCapsA(index, &caps, sizeof caps) == MMSYSERR_NOERROR;
  CopyPortName(described ? caps.szPname : nullptr, sizeof caps.szPname, buffer);
}

int MidiInPort::Start() {
  if (started_) return 1;
  // A port whose shutdown the service refused earlier still holds the old header, and would
  // keep the device busy: close it first.
  if (header_ != nullptr && !Shutdown()) return 0;

  header_ = new (std::nothrow) MIDIHDR{};
  if (header_ == nullptr) return 0;
  header_->lpData = new (std::nothrow) char[kSysExBufferSize]{};
  if (header_->lpData == nullptr) {
    ReleaseHeader();
    return 0;
  }
  header_->dwBufferLength = kSysExBufferSize;

  HMIDIIN handle{};
  const MMRESULT opened =
      midiInOpen(&handle, deviceIndex, reinterpret_cast<uintptr_t>(&InputCallback),
                 reinterpret_cast<uintptr_t>(this), CALLBACK_FUNCTION);
  handle_ = handle;
  if (opened != MMSYSERR_NOERROR) {
    ReleaseHeader();  // the service never saw it
    return 0;
  }
  if (midiInReset(handle) != MMSYSERR_NOERROR ||
      midiInPrepareHeader(handle, header_, sizeof *header_) != MMSYSERR_NOERROR ||
      midiInAddBuffer(handle, header_, sizeof *header_) != MMSYSERR_NOERROR ||
      midiInStart(handle) != MMSYSERR_NOERROR) {
    // Close the port again so that the next Start can open it; if the service refuses, the
    // header stays with the port until a later shutdown succeeds.
    Shutdown();
    return 0;
  }
  started_ = true;
  return 1;
}

int MidiInPort::Stop() {
  if (!started_) return 0;
  Shutdown();
  started_ = false;
  return 0;
}

int MidiInPort::Close() {
  if (handle_.load() == HMIDIIN{}) return 0;
  Stop();
  return 1;
}

bool MidiInPort::Shutdown() {
  const HMIDIIN handle = handle_.load();
  if (handle != HMIDIIN{}) {
    // Each step only after the one before succeeded. The reset hands the header back through
    // the callback with 0 bytes, which the callback leaves alone. A handle the service no
    // longer knows belongs to a port that was closed under us (the service returns every
    // header before it forgets a port), so the header is free then as well.
    MMRESULT result = midiInStop(handle);
    if (result == MMSYSERR_NOERROR) result = midiInReset(handle);
    if (result == MMSYSERR_NOERROR) {
      result = midiInUnprepareHeader(handle, header_, sizeof *header_);
    }
    if (result == MMSYSERR_NOERROR) result = midiInClose(handle);
    if (result != MMSYSERR_NOERROR && result != MMSYSERR_INVALHANDLE) return false;
  }
  ReleaseHeader();
  return true;
}

void MidiInPort::ReleaseHeader() {
  if (header_ == nullptr) return;
  delete[] header_->lpData;
  delete header_;
  header_ = nullptr;
}

void MidiInPort::InputCallback(HMIDIIN /*handle*/, uint32_t message, uintptr_t instance,
                               uintptr_t param1, uintptr_t /*param2*/) {
  auto* port = reinterpret_cast<MidiInPort*>(instance);
  if (port == nullptr) return;
  if (message == MIM_DATA) {
    port->shortMsgs_.Write(static_cast<uint32_t>(param1));
  } else if (message == MIM_LONGDATA) {
    // A header returned empty (by a reset) is neither queued nor handed back, so that after a
    // reset the service really holds nothing; such a header is looked at before the port is.
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    if (header == nullptr || (LoadFlags(header) & MHDR_DONE) == 0 || header->dwBytesRecorded == 0) {
      return;
    }
    port->OnLongData(header);
  }
}

void MidiInPort::OnLongData(MIDIHDR* header) {
  const size_t length = std::min(header->dwBytesRecorded, header->dwBufferLength);
  // Out of memory: this message is lost, but the header still goes back so that the port
  // keeps receiving.
  const bool queued = sysex_.Append(reinterpret_cast<const uint8_t*>(header->lpData), length);
  const HMIDIIN handle = handle_.load();
  midiInPrepareHeader(handle, header, sizeof *header);
  midiInAddBuffer(handle, header, sizeof *header);
  // The dispatcher's timer handles the message now rather than at its next tick.
  if (queued) timeWakeMidiEvents();
}

}  // namespace q9m::midi
