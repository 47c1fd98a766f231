#include "protocol/sysex_sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "protocol/crc32.h"
#include "protocol/septets.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::protocol {
namespace {

using testing::Bytes;

class SysExSenderTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    sent_ = AddRecordedOutput("USB Audio Device", &outputId_);
    ASSERT_EQ(port_.Open(0), 1);
  }
  void TearDown() override {
    port_.Close();
    VirtualMidiTest::TearDown();
  }

  midi::MidiOutPort port_;
  DeviceCode deviceCode_;
  SysExSender sender_{port_, deviceCode_};
  std::shared_ptr<testing::SentMessages> sent_;
  uint32_t outputId_ = 0;
};

TEST_F(SysExSenderTest, BeforeIdentificationVendorMessagesCarryModel00) {
  EXPECT_EQ(sender_.SendBeginUpdate(), 0);
  EXPECT_EQ(sender_.SendStatusReply(1), 0);
  EXPECT_EQ(sender_.SendHostIdentityReply(), 0);
  auto all = sent_->All();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], (Bytes{0xF0, 0x3D, 0x00, 0x00, 0x01, 0xF7}));
  EXPECT_EQ(all[1], (Bytes{0xF0, 0x3D, 0x00, 0x00, 0x00, 0x01, 0xF7}));
  EXPECT_EQ(Bytes(all[2].begin() + 6, all[2].begin() + 10), (Bytes{0, 0, 0, 0}));
}

TEST_F(SysExSenderTest, MessagesFollowTheDeviceCodeAndHostIdentity) {
  deviceCode_.Set({0x4A, 0, 0, 0});
  sender_.SetHostIdentity({0x4A, 0, 0, 0});
  EXPECT_EQ(sender_.SendIdentityRequest(), 0);
  EXPECT_EQ(sender_.SendEndUpdate(), 0);
  EXPECT_EQ(sender_.SendReadRequest(0x22FFC, 4), 0);
  EXPECT_EQ(sender_.SendEraseRange(0x4A, 0x23000, 0x38000), 0);
  EXPECT_EQ(sender_.SendHostIdentityReply(), 0);
  auto all = sent_->All();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0], (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
  EXPECT_EQ(all[1], (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x04, 0xF7}));
  EXPECT_EQ(all[2], (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x60, 0x30, 0x7C, 0x5F, 0x08, 0x00, 0x00, 0x04,
                           0x00, 0x00, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(DecodeSeptets(&all[3][5]), 0x23000u);
  EXPECT_EQ(DecodeSeptets(&all[3][10]), 0x38000u);
  EXPECT_EQ(all[4], (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x3D, 0x4A, 0x00, 0x00, 0x00, 0x31, 0x30,
                           0x30, 0x30, 0xF7}));
}

TEST_F(SysExSenderTest, WriteBlockOutsideOneTo4096IsRefusedUnsent) {
  Bytes data(5000, 0x11);
  EXPECT_EQ(sender_.SendWriteBlock(0x4A, data.data(), 0, 0), -1);
  EXPECT_EQ(sender_.SendWriteBlock(0x4A, data.data(), 0, 4097), -1);
  EXPECT_EQ(sent_->Count(), 0u);
  EXPECT_EQ(sender_.SendWriteBlock(0x4A, data.data(), 0x1000, 4096), 0);
  ASSERT_EQ(sent_->Count(), 1u);
  EXPECT_EQ(sent_->All()[0].size(), 4700u);
}

TEST_F(SysExSenderTest, FailuresOfThePortAreMinusOne) {
  service_->RefuseOutput(outputId_, platform::OutputOp::LongMsg, 1);
  EXPECT_EQ(sender_.SendBeginUpdate(), -1);
  EXPECT_EQ(sender_.SendBeginUpdate(), 0);
  service_->RefuseOutput(outputId_, platform::OutputOp::Prepare, 1);
  EXPECT_EQ(sender_.SendIdentityRequest(), -1);
  port_.Close();
  EXPECT_EQ(sender_.SendStatusReply(0), -1);
  EXPECT_EQ(sent_->Count(), 1u);
}

// The worker's blocks and the dispatcher's answers go out at the same time from two threads:
// every message arrives whole, and no answer ever carries half of a new host identity.
TEST_F(SysExSenderTest, TwoThreadsNeverMixTheirMessages) {
  deviceCode_.Set({0x4A, 0, 0, 0});
  constexpr int kRounds = 300;
  Bytes data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  std::atomic<bool> go{false};
  std::thread worker([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      sender_.SetHostIdentity(i % 2 ? DeviceCodeBytes{0x4A, 0, 0, 0}
                                    : DeviceCodeBytes{0x4B, 1, 2, 3});
      EXPECT_EQ(sender_.SendWriteBlock(0x4A, data.data(), i * 4096u, 4096), 0);
    }
  });
  std::thread dispatcher([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      EXPECT_EQ(i % 2 ? sender_.SendStatusReply(0) : sender_.SendHostIdentityReply(), 0);
    }
  });
  go = true;
  worker.join();
  dispatcher.join();
  int blocks = 0, answers = 0;
  for (const Bytes& m : sent_->All()) {
    if (m.size() == 4700) {
      ++blocks;
      ASSERT_EQ(m[4], 0x02);
      EXPECT_EQ(DecodeSeptets(&m[12 + 4682]), Crc32(data.data(), 4096));
    } else if (m.size() == 15) {
      ++answers;
      const Bytes code(m.begin() + 6, m.begin() + 10);
      EXPECT_TRUE(code == (Bytes{0x4A, 0, 0, 0}) || code == (Bytes{0x4B, 1, 2, 3}) ||
                  code == (Bytes{0, 0, 0, 0}));
    } else {
      ++answers;
      EXPECT_EQ(m, (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7}));
    }
  }
  EXPECT_EQ(blocks, kRounds);
  EXPECT_EQ(answers, kRounds);
}

}  // namespace
}  // namespace q9m::protocol
