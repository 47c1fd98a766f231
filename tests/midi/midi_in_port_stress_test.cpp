// The port's two hand-offs under load: the service's callback thread producing while the
// dispatcher consumes. Run in the thread-sanitizer build as well, which sees any data race.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "midi/midi_in_port.h"
#include "platform/midi_types.h"

namespace q9m::midi {
namespace {

using platform::MIDIHDR;

constexpr uint32_t kMessages = 200000;

// F0, sequence number (3 septets), length (2 septets), payload, checksum, F7.
constexpr size_t kFraming = 8;

uint8_t Checksum(const uint8_t* bytes, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = sum * 31 + bytes[i];
  return static_cast<uint8_t>((sum ^ (sum >> 7) ^ (sum >> 14)) & 0x7F);
}

size_t BuildMessage(uint32_t sequence, size_t payload, std::mt19937& random, uint8_t* out) {
  const size_t length = payload + kFraming;
  size_t at = 0;
  out[at++] = 0xF0;
  out[at++] = sequence & 0x7F;
  out[at++] = (sequence >> 7) & 0x7F;
  out[at++] = (sequence >> 14) & 0x7F;
  out[at++] = length & 0x7F;
  out[at++] = (length >> 7) & 0x7F;
  for (size_t i = 0; i < payload; ++i) out[at++] = random() & 0x7F;
  out[at] = Checksum(out + 1, at - 1);
  ++at;
  out[at++] = 0xF7;
  return at;
}

void Deliver(MidiInPort& port, MIDIHDR& header) {
  MidiInPort::InputCallback({}, platform::MIM_LONGDATA, reinterpret_cast<uintptr_t>(&port),
                            reinterpret_cast<uintptr_t>(&header), 0);
}

TEST(MidiInPortStressTest, EveryMessageArrivesOnceWholeAndInOrder) {
  MidiInPort port;
  std::atomic<uint32_t> consumed{0};
  std::atomic<bool> giveUp{false};  // the consumer found faults and stopped reading

  std::thread producer([&] {
    std::mt19937 random(20240611);
    std::vector<uint8_t> buffer(kSysExBufferSize);
    MIDIHDR header{};
    header.lpData = reinterpret_cast<char*>(buffer.data());
    header.dwBufferLength = kSysExBufferSize;
    for (uint32_t sequence = 0; sequence < kMessages; ++sequence) {
      // Now and then wait until the queue is empty, so that the next message is appended to a
      // queue whose only entry the consumer is dropping.
      if (sequence % 64 == 0) {
        while (consumed.load(std::memory_order_acquire) < sequence && !giveUp) {
          std::this_thread::yield();
        }
      }
      const size_t payload = random() % 4 == 0 ? random() % 2000 : random() % 200;
      header.dwBytesRecorded =
          static_cast<uint32_t>(BuildMessage(sequence, payload, random, buffer.data()));
      header.dwFlags = platform::MHDR_DONE;
      Deliver(port, header);
    }
  });

  uint32_t expected = 0;
  uint32_t failures = 0;
  while (expected < kMessages && failures < 10) {
    size_t length = 0;
    const uint8_t* data = port.PeekSysEx(&length);
    if (data == nullptr) {
      std::this_thread::yield();
      continue;
    }
    const uint32_t sequence = data[1] | data[2] << 7 | data[3] << 14;
    const size_t recorded = data[4] | data[5] << 7;
    const bool whole = length >= kFraming && data[0] == 0xF0 && data[length - 1] == 0xF7 &&
                       recorded == length && data[length - 2] == Checksum(data + 1, length - 3);
    if (sequence != expected || !whole) {
      ADD_FAILURE() << "message " << expected << ": got sequence " << sequence << ", length "
                    << length << (whole ? "" : ", damaged");
      ++failures;
    }
    ++expected;
    port.DropSysEx();
    consumed.store(expected, std::memory_order_release);
  }
  giveUp = true;
  producer.join();
  size_t length = 0;
  EXPECT_EQ(port.PeekSysEx(&length), nullptr) << "more messages than were sent";
  EXPECT_EQ(expected, kMessages);
}

TEST(MidiInPortStressTest, ShortMessagesArriveInOrderWhileTheReaderKeepsUp) {
  constexpr uint32_t kShort = 100000;
  MidiInPort port;
  std::atomic<uint32_t> consumed{0};
  std::atomic<bool> giveUp{false};  // the consumer found faults and stopped reading

  std::thread producer([&] {
    for (uint32_t sequence = 0; sequence < kShort; ++sequence) {
      // The writer never looks at the read index; staying 31 entries ahead at most is up to
      // the sender, here this loop.
      while (sequence - consumed.load(std::memory_order_acquire) >= 31 && !giveUp) {
        std::this_thread::yield();
      }
      const uint32_t packed =
          (0x90 | (sequence >> 14 & 0x0F)) | (sequence & 0x7F) << 8 | (sequence >> 7 & 0x7F) << 16;
      MidiInPort::InputCallback({}, platform::MIM_DATA, reinterpret_cast<uintptr_t>(&port), packed,
                                0);
    }
  });

  uint32_t expected = 0;
  uint32_t failures = 0;
  while (expected < kShort && failures < 10) {
    uint8_t message[3];
    if (port.ReadShortMsg(message, 3) == 0) {
      std::this_thread::yield();
      continue;
    }
    const uint32_t sequence = (message[0] & 0x0F) << 14 | message[2] << 7 | message[1];
    if ((message[0] & 0xF0) != 0x90 || sequence != (expected & 0x3FFFF)) {
      ADD_FAILURE() << "message " << expected << ": got " << sequence;
      ++failures;
    }
    ++expected;
    consumed.store(expected, std::memory_order_release);
  }
  giveUp = true;
  producer.join();
  EXPECT_EQ(expected, kShort);
}

}  // namespace
}  // namespace q9m::midi
