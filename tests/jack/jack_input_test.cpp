// Input from a JACK peer: System Exclusive messages of every size the device sends arrive whole
// and in order in the owner's headers, and closing a port stops delivery before it returns.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/midi_service.h"
#include "tests/jack/jack_environment.h"

namespace q9m::testing {
namespace {

using namespace q9m::platform;
using ::testing::ElementsAreArray;
using Clock = std::chrono::steady_clock;

constexpr size_t kHeaderBytes = 8192;
constexpr size_t kHeaderCount = 4;

// What a driver user does: hands headers to the port and, in the callback, takes the message
// out of a filled header and hands the header back.
class LongDataCollector {
 public:
  static void Proc(HMIDIIN handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                   uintptr_t /*param2*/) {
    auto* self = reinterpret_cast<LongDataCollector*>(instance);
    if (message != MIM_LONGDATA) return;
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    {
      std::lock_guard lock(self->mutex_);
      if (header->dwBytesRecorded > 0) {
        const auto* data = reinterpret_cast<const uint8_t*>(header->lpData);
        self->messages_.emplace_back(data, data + header->dwBytesRecorded);
      }
    }
    self->changed_.notify_all();
    if (!self->closing_) midiInAddBuffer(handle, header, sizeof *header);
  }

  MMRESULT Open(uint32_t index) {
    MMRESULT result = midiInOpen(&handle_, index, reinterpret_cast<uintptr_t>(&Proc),
                                 reinterpret_cast<uintptr_t>(this), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) return result;
    for (size_t i = 0; i < kHeaderCount; ++i) {
      headers_[i].lpData = buffers_[i].data();
      headers_[i].dwBufferLength = kHeaderBytes;
      if ((result = midiInPrepareHeader(handle_, &headers_[i], sizeof(MIDIHDR)))) return result;
      if ((result = midiInAddBuffer(handle_, &headers_[i], sizeof(MIDIHDR)))) return result;
    }
    return midiInStart(handle_);
  }

  void Close() {
    closing_ = true;
    EXPECT_EQ(midiInReset(handle_), MMSYSERR_NOERROR);
    for (MIDIHDR& header : headers_) {
      EXPECT_EQ(midiInUnprepareHeader(handle_, &header, sizeof header), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(midiInClose(handle_), MMSYSERR_NOERROR);
  }

  bool WaitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return messages_.size() >= count; });
  }

  std::vector<Bytes> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  HMIDIIN handle_{};
  std::array<std::array<char, kHeaderBytes>, kHeaderCount> buffers_{};
  std::array<MIDIHDR, kHeaderCount> headers_{};
  std::atomic<bool> closing_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Bytes> messages_;
};

class JackInputTest : public JackTest {
 protected:
  void SetUp() override {
    device_ = OpenPeer("Q9m", {}, {"Q9m MIDI 1"});
    ASSERT_TRUE(device_);
    auto index = InputIndex("Q9m MIDI 1");
    ASSERT_TRUE(index);
    ASSERT_EQ(collector_.Open(*index), MMSYSERR_NOERROR);
  }

  void TearDown() override { collector_.Close(); }

  std::unique_ptr<JackPeer> device_;
  LongDataCollector collector_;
};

TEST_F(JackInputTest, MessagesOfEverySizeArriveWholeAndInOrder) {
  const size_t sizes[] = {6, 7, 15, 16, 17, 100, 1000, 4095, 4700};
  std::vector<Bytes> sent;
  uint32_t tag = 0;
  for (int round = 0; round < 3; ++round) {
    for (size_t n : sizes) {
      sent.push_back(PatternMessage(n, ++tag));
      ASSERT_TRUE(device_->Send(0, sent.back()));
      // One message per cycle, as a device that answers requests one by one.
      ASSERT_TRUE(device_->WaitUntilSent(std::chrono::seconds(2)));
    }
  }
  ASSERT_TRUE(collector_.WaitFor(sent.size(), std::chrono::seconds(3)));
  EXPECT_THAT(collector_.Messages(), ElementsAreArray(sent));
}

TEST_F(JackInputTest, ABurstOfLargeMessagesArrivesWholeAndInOrder) {
  // Several 4,700-byte messages share each process cycle.
  std::vector<Bytes> sent;
  for (uint32_t tag = 1; tag <= 60; ++tag) {
    sent.push_back(PatternMessage(4700, tag));
    ASSERT_TRUE(device_->Send(0, sent.back()));
  }
  ASSERT_TRUE(collector_.WaitFor(sent.size(), std::chrono::seconds(5)));
  EXPECT_THAT(collector_.Messages(), ElementsAreArray(sent));
}

TEST_F(JackInputTest, ShortAndRealTimeBytesDoNotBreakSystemExclusive) {
  const Bytes first = PatternMessage(300, 1);
  const Bytes second = PatternMessage(4700, 2);
  ASSERT_TRUE(device_->Send(0, first));
  ASSERT_TRUE(device_->Send(0, {0xB0, 7, 100}));
  ASSERT_TRUE(device_->Send(0, {0xFE}));  // active sensing, which the backend ignores
  ASSERT_TRUE(device_->Send(0, second));
  ASSERT_TRUE(collector_.WaitFor(2, std::chrono::seconds(3)));
  EXPECT_THAT(collector_.Messages(), ElementsAreArray({first, second}));
}

// Counts Receive calls and tells whether one is running. A call lasts until the test has begun
// to close, and a while longer, so that the close meets it in progress: the pump may hand over
// all 40 messages in one call.
class SlowReceiver final : public InputReceiver {
 public:
  void Receive(const uint8_t*, size_t) override {
    inside_ = true;
    const auto giveUp = Clock::now() + std::chrono::seconds(2);
    while (!closing_ && Clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ++calls_;
    inside_ = false;
  }
  std::atomic<bool> inside_{false};
  std::atomic<bool> closing_{false};
  std::atomic<int> calls_{0};
};

TEST_F(JackInputTest, NoDeliveryRunsOnceASourceIsClosed) {
  auto index = InputIndex("Q9m MIDI 1");
  ASSERT_TRUE(index);
  for (int attempt = 0; attempt < 5; ++attempt) {
    SlowReceiver receiver;
    MMRESULT error = MMSYSERR_ERROR;
    auto source = Backend().OpenInput(*index, receiver, error);
    ASSERT_TRUE(source) << error;
    for (uint32_t tag = 0; tag < 40; ++tag) ASSERT_TRUE(device_->Send(0, PatternMessage(64, tag)));
    // Close while a delivery is in progress.
    const auto start = Clock::now();
    while (!receiver.inside_ && Clock::now() - start < std::chrono::seconds(2)) {
      std::this_thread::yield();
    }
    ASSERT_TRUE(receiver.inside_);
    receiver.closing_ = true;
    source->Close();
    EXPECT_FALSE(receiver.inside_);
    const int calls = receiver.calls_;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(receiver.calls_.load(), calls);
    ASSERT_TRUE(device_->WaitUntilSent(std::chrono::seconds(2)));
  }
}

}  // namespace
}  // namespace q9m::testing
