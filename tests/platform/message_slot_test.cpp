// The hand-over of a message to the JACK process callback: a message that the callback failed
// to write is a failed send, and its bytes are never read again once the sender has returned.
#include "platform/jack/message_slot.h"

#include <gtest/gtest.h>

#include <thread>

namespace q9m::platform::jack {
namespace {

using Clock = std::chrono::steady_clock;

// Plays one process cycle on another thread: claims the posted message, takes long enough over
// it for the sender to see it being written, and reports the write as `written`.
bool SendThroughCycle(MessageSlot& slot, bool written) {
  const std::atomic<bool> alive{true};
  const uint8_t message[] = {0xF0, 0x7E, 0xF7};
  slot.Post(message, sizeof message);
  std::thread cycle([&] {
    const uint8_t* bytes = nullptr;
    size_t n = 0;
    while (!slot.Claim(&bytes, &n)) std::this_thread::yield();
    EXPECT_EQ(bytes, message);
    EXPECT_EQ(n, sizeof message);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    slot.Finish(written);
  });
  const bool taken = slot.WaitTaken(Clock::now() + std::chrono::seconds(10), alive);
  cycle.join();
  return taken;
}

TEST(MessageSlotTest, AWriteThatFailedIsAFailedSendAndIsNotClaimedAgain) {
  MessageSlot slot;
  EXPECT_TRUE(SendThroughCycle(slot, true));
  EXPECT_FALSE(SendThroughCycle(slot, false));
  // The next cycle finds nothing to write: the sender's bytes may be gone.
  const uint8_t* bytes = nullptr;
  size_t n = 0;
  EXPECT_FALSE(slot.Claim(&bytes, &n));
  EXPECT_TRUE(SendThroughCycle(slot, true));  // and the slot serves the next message
}

TEST(MessageSlotTest, AMessageNoCycleClaimedIsWithdrawnAtTheDeadline) {
  MessageSlot slot;
  const std::atomic<bool> alive{true};
  const uint8_t message[] = {0xF8};
  slot.Post(message, sizeof message);
  EXPECT_FALSE(slot.WaitTaken(Clock::now() + std::chrono::milliseconds(5), alive));
  const uint8_t* bytes = nullptr;
  size_t n = 0;
  EXPECT_FALSE(slot.Claim(&bytes, &n));
}

}  // namespace
}  // namespace q9m::platform::jack
