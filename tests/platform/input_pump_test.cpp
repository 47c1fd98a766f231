// The pump between a MIDI system's real-time thread and the receiver: the byte stream arrives
// unchanged across the ring's wrap-around, and a message that finds the ring full is dropped
// whole, never torn, and the receiver is told where the gap is.
#include "platform/input_pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace q9m::platform {
namespace {

class Collector final : public InputReceiver {
 public:
  void Receive(const uint8_t* bytes, size_t n) override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
    bytes_.insert(bytes_.end(), bytes, bytes + n);
    changed_.notify_all();
  }
  // Marks a loss in the bytes received with kLossMark, which no message holds.
  void Lost() override {
    std::lock_guard lock(mutex_);
    bytes_.push_back(kLossMark);
    changed_.notify_all();
  }
  static constexpr uint8_t kLossMark = 0xF4;
  void Hold() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return bytes_.size();
  }
  // The bytes received once `size` of them have come (or after two seconds).
  std::vector<uint8_t> Await(size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return bytes_.size() >= size; });
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> Message(size_t n, uint32_t tag) {
  std::vector<uint8_t> m(n);
  for (size_t i = 0; i < n; ++i) m[i] = static_cast<uint8_t>((tag * 31 + i) & 0x7F);
  m.front() = 0xF0;
  m.back() = 0xF7;
  return m;
}

TEST(InputPumpTest, TheStreamArrivesUnchangedAcrossTheRingsWrapAround) {
  Collector receiver;
  InputPump pump(receiver);
  std::vector<uint8_t> expected;
  for (uint32_t tag = 0; expected.size() < 3 * InputPump::kCapacity; ++tag) {
    const auto m = Message(7 + (tag * 977) % 9000, tag);  // sizes that do not divide the ring
    // Pushed once the ring surely has room (the pump counts a delivery as read only after the
    // receiver has it, so half the ring is kept for that): a refused push would be a loss.
    while (expected.size() + m.size() - receiver.Count() > InputPump::kCapacity / 2)
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    ASSERT_TRUE(pump.Push(m.data(), m.size()));
    expected.insert(expected.end(), m.begin(), m.end());
  }
  EXPECT_EQ(receiver.Await(expected.size()), expected);
}

TEST(InputPumpTest, AMessageForWhichThereIsNoRoomIsDroppedWhole) {
  Collector receiver;
  InputPump pump(receiver);
  receiver.Hold();  // the receiver stalls in its first delivery
  const auto first = Message(100, 0);
  ASSERT_TRUE(pump.Push(first.data(), first.size()));
  std::vector<uint8_t> expected = first;
  uint64_t refused = 0;
  for (uint32_t tag = 1; tag < 200; ++tag) {
    const auto m = Message(4700, tag);
    if (pump.Push(m.data(), m.size())) {
      expected.insert(expected.end(), m.begin(), m.end());
    } else {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0u);
  EXPECT_EQ(pump.Dropped(), refused);
  receiver.Release();
  // The receiver learns of the gap after what came before it, and before what comes after.
  expected.push_back(Collector::kLossMark);
  EXPECT_EQ(receiver.Await(expected.size()), expected);
  const auto after = Message(50, 7);
  ASSERT_TRUE(pump.Push(after.data(), after.size()));
  expected.insert(expected.end(), after.begin(), after.end());
  EXPECT_EQ(receiver.Await(expected.size()), expected);
}

}  // namespace
}  // namespace q9m::platform
