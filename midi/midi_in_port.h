// One MIDI input port, chosen by index: System Exclusive messages are copied out of the
// service's receive buffer into a queue, short messages into a small ring. The service's
// callback thread fills both; the dispatcher on the timer thread empties them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "midi/midi_out_port.h"
#include "midi/port_name.h"
#include "platform/midi_types.h"

namespace q9m::midi {

// Size of the one receive buffer that the port hands to the service.
inline constexpr uint32_t kSysExBufferSize = 8192;

// One received System Exclusive message: a heap copy of exactly the recorded bytes.
struct SysExNode {
  uint8_t* data = nullptr;
  size_t length = 0;
  std::atomic<SysExNode*> next{nullptr};
};

// Single-producer single-consumer queue of received messages, unbounded.
//
// The queue always holds one stub node whose data has already been taken (or never existed).
// The oldest message is the one after the stub. The producer links a new node behind its own
// tail pointer with a release store of the tail's next pointer, and only ever touches the
// tail. The consumer reads the stub's next pointer with an acquire load; dropping a message
// frees the old stub and the message's bytes, and the message's node becomes the new stub.
// The two sides never write the same memory: the producer writes the tail node, and the tail
// is never a node the consumer frees, because the consumer frees only a stub that has a
// successor. So appending never waits for the consumer, and a drop that runs while the
// producer appends to a one-entry queue cannot lose or free the new node.
class SysExQueue {
 public:
  SysExQueue();
  ~SysExQueue();
  SysExQueue(const SysExQueue&) = delete;
  SysExQueue& operator=(const SysExQueue&) = delete;

  // Producer side. Copies `length` (> 0) bytes; false when memory ran out (nothing queued).
  bool Append(const uint8_t* bytes, size_t length);

  // Consumer side: the oldest message and its length, or null when the queue is empty.
  const uint8_t* Peek(size_t* length) const;
  // Consumer side: releases the oldest message; does nothing when the queue is empty.
  void Drop();

 private:
  SysExNode* head_;  // the stub; owned by the consumer
  SysExNode* tail_;  // the newest node; owned by the producer
};

// Short messages as 4-byte entries {3, status, data1, data2}. The writer never looks at the
// read index: after 31 unread entries the next one moves the write index onto the read index
// and the ring reads as empty. Each index is written by one side only; the write index moves
// on only after the entry is written.
class ShortMsgRing {
 public:
  static constexpr uint32_t kEntries = 32;

  // Writer side: appends the message packed as status | data1 << 8 | data2 << 16.
  void Write(uint32_t packed);
  // Reader side: as MidiInPort::ReadShortMsg.
  int Read(uint8_t* buffer, int size);

 private:
  // Each entry is one word so that a reader overtaken by the writer still reads whole entries
  // (bytes in memory order: count, status, data1, data2).
  std::atomic<uint32_t> entries_[kEntries] = {};
  std::atomic<uint32_t> read_{0};
  std::atomic<uint32_t> write_{0};
};

class MidiInPort {
 public:
  MidiInPort() = default;
  ~MidiInPort();
  MidiInPort(const MidiInPort&) = delete;
  MidiInPort& operator=(const MidiInPort&) = delete;

  static uint32_t GetDeviceCount();
  // Copies the port's name (empty when the service cannot describe the port) into `buffer`,
  // which holds kPortNameBufferSize bytes (see CopyPortName).
  static void GetDeviceName(uint32_t index, char* buffer);

  // Opens port `deviceIndex` and starts receiving: 1 when the port is receiving afterwards
  // (also when it already was, whatever deviceIndex says now), 0 when a step failed; a failed
  // start leaves the port closed again.
  int Start();
  // Stops receiving and closes the port; always 0. Received messages stay queued.
  int Stop();
  // 0 when the port was never opened, else stops it and returns 1.
  int Close();

  // The oldest System Exclusive message (and its length), the same one until it is dropped;
  // null when none is queued.
  const uint8_t* PeekSysEx(size_t* length) const { return sysex_.Peek(length); }
  // Releases the oldest message, if any; always 0.
  int DropSysEx() {
    sysex_.Drop();
    return 0;
  }
  // Copies the data of the oldest short message, at most `size` of its 3 bytes (status first),
  // and consumes it. Returns the bytes copied, 0 when no message is waiting.
  int ReadShortMsg(uint8_t* buffer, int size) { return shortMsgs_.Read(buffer, size); }

  bool IsStarted() const { return started_; }

  // The service's callback; `instance` is the port.
  static void InputCallback(platform::HMIDIIN handle, uint32_t message, uintptr_t instance,
                            uintptr_t param1, uintptr_t param2);

  uint32_t deviceIndex = 0;

 private:
  // Stops, resets and closes the port in `handle_` and releases the receive header. When the
  // service refuses a step, the header stays allocated and owned by the port (the service may
  // still write into it) and the next Start or the destructor tries again. True when done.
  bool Shutdown();
  void ReleaseHeader();
  void OnLongData(platform::MIDIHDR* header);

  // Written by the owner's Start; read by the callback thread to hand the header back.
  std::atomic<platform::HMIDIIN> handle_{};
  // Non-null from Start until a shutdown that the service accepted. Non-null while not
  // started means a shutdown is still owed: the service may still hold the header.
  platform::MIDIHDR* header_ = nullptr;
  bool started_ = false;
  ShortMsgRing shortMsgs_;
  SysExQueue sysex_;
};

}  // namespace q9m::midi
