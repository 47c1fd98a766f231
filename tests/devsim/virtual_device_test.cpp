#include "devsim/virtual_device.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/midi_service.h"
#include "tests/devsim/device_harness.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::devsim {
namespace {

using namespace devsim::testing;
using platform::MIDIHDR;
using platform::MMRESULT;
using platform::MMSYSERR_NOERROR;

// What arrives on an input port, byte stream as delivered.
class Collector final : public platform::InputReceiver {
 public:
  void Receive(const uint8_t* bytes, size_t n) override {
    {
      std::lock_guard lock(mutex_);
      bytes_.insert(bytes_.end(), bytes, bytes + n);
    }
    changed_.notify_all();
  }
  Bytes WaitFor(size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return bytes_.size() >= n; });
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Bytes bytes_;
};

class VirtualDeviceTest : public q9m::testing::VirtualMidiTest {
 protected:
  // Opens the listed ports with these indexes as the host would.
  void Connect(uint32_t outputIndex, uint32_t inputIndex) {
    MMRESULT error = MMSYSERR_NOERROR;
    output_ = service_->OpenOutput(outputIndex, error);
    ASSERT_TRUE(output_) << error;
    input_ = service_->OpenInput(inputIndex, collector_, error);
    ASSERT_TRUE(input_) << error;
  }
  // Returns once the port is done with the message, as the host's send does.
  void HostSends(Bytes m) {
    MIDIHDR header;
    header.lpData = reinterpret_cast<char*>(m.data());
    header.dwBufferLength = static_cast<uint32_t>(m.size());
    ASSERT_EQ(output_->SendLong(&header), MMSYSERR_NOERROR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((platform::LoadFlags(&header) & platform::MHDR_DONE) == 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void TearDown() override {
    if (input_) input_->Close();
    if (output_) output_->Close();
    VirtualMidiTest::TearDown();
  }

  Collector collector_;
  std::unique_ptr<platform::OutputConnection> output_;
  std::unique_ptr<platform::InputSource> input_;
};

TEST_F(VirtualDeviceTest, PortsCarryTheNameAndTheExchange) {
  AddRecordedOutput("Other Output");
  VirtualDevice device(*service_, "USB Audio Device", {.code = {0x4B, 0, 0, 0}});
  ASSERT_EQ(service_->OutputCount(), 2u);
  EXPECT_EQ(service_->OutputName(1), "USB Audio Device");
  EXPECT_EQ(service_->InputName(0), "USB Audio Device");
  EXPECT_EQ(device.outputId, 1u);
  EXPECT_EQ(device.inputId, 0u);
  Connect(1, 0);
  HostSends(IdentityRequest());
  HostSends(Begin(0x4B));
  const Bytes received = collector_.WaitFor(protocol::kIdentityReplyLength + 7);
  ASSERT_EQ(received.size(), protocol::kIdentityReplyLength + 7);
  EXPECT_EQ(received[6], 0x4B);
  EXPECT_EQ(Bytes(received.end() - 7, received.end()), DeviceStatus(0, 0x4B));
  EXPECT_EQ(device.Report().received.beginUpdates, 1u);
}

// Like a real interface, the host's send is done only once the message has passed the link,
// so the host's reply time-out starts after the transmission.
TEST_F(VirtualDeviceTest, SlowLinkHoldsTheHostsSendUntilTheMessageHasPassed) {
  ClockScale fast(10);
  // 4700 bytes at 3125 bytes/s spend 1504 ms of platform time (150 ms real) on the link.
  VirtualDevice device(*service_, "USB Audio Device", {.linkBytesPerSecond = 3125});
  Connect(0, 0);
  HostSends(Begin());
  HostSends(Erase(0x23000, 0x38000));
  const Bytes block = ImageBlock(133, 0, 0x23000);
  ASSERT_EQ(block.size(), protocol::kMaxWriteBlockLength);
  const auto sent = std::chrono::steady_clock::now();
  HostSends(block);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(140));
  // Begin, erase and block each answered with 00.
  const Bytes received = collector_.WaitFor(3 * protocol::kStatusReplyLength);
  ASSERT_EQ(received.size(), 3 * protocol::kStatusReplyLength);
  EXPECT_EQ(Bytes(received.end() - 7, received.end()), DeviceStatus(0));
  EXPECT_EQ(device.Report().blocksAcknowledged, 1u);
  EXPECT_EQ(device.Report().bytesReceived,
            protocol::kBeginUpdateLength + protocol::kEraseRangeLength + block.size());
}

TEST_F(VirtualDeviceTest, DestroyingTheDeviceUnplugsItsPorts) {
  {
    VirtualDevice device(*service_, "USB Audio Device", {});
    EXPECT_EQ(service_->OutputCount(), 1u);
    EXPECT_EQ(service_->InputCount(), 1u);
  }
  EXPECT_EQ(service_->OutputCount(), 0u);
  EXPECT_EQ(service_->InputCount(), 0u);
}

}  // namespace
}  // namespace q9m::devsim
