// The reply dispatcher on real ports, driven by the real 1 ms timer: a second JACK client plays
// the device and sends replies, requests of its own, and foreign and malformed messages.
#include <gtest/gtest.h>

#include "midi/dxm_timer.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "protocol/messages.h"
#include "protocol/reply_dispatcher.h"
#include "tests/jack/jack_environment.h"

namespace q9m::testing {
namespace {

using std::chrono::milliseconds;

class JackDispatcherTest : public JackTest {
 protected:
  void SetUp() override {
    device_ = OpenPeer("DispatchDevice", {"Device In"}, {"Device Out"});
    ASSERT_TRUE(device_);
    auto out = OutputIndex("Device In");
    auto in = InputIndex("Device Out");
    ASSERT_TRUE(out && in);
    ASSERT_EQ(outPort_.Open(*out), 1);
    inPort_.deviceIndex = *in;
    ASSERT_EQ(inPort_.Start(), 1);
    state_.deviceCode.Set({0x4A, 0, 0, 0});
    context_.sender.SetHostIdentity({0x4A, 0, 0, 0});
    ASSERT_NE(protocol::StartReplyDispatcher(timer_, context_), 0u);
  }
  void TearDown() override {
    timer_.Stop();
    inPort_.Close();
    outPort_.Close();
  }

  // Sends one message from the device and waits for the dispatcher's signal.
  bool SendAndWaitForSignal(const Bytes& message, int timeoutMs = 2000) {
    EXPECT_TRUE(device_->Send(0, message));
    return context_.replyEvent.Wait(timeoutMs);
  }
  // Sends from the device and waits for the host's automatic answer.
  Bytes SendAndWaitForAnswer(const Bytes& message) {
    const size_t before = device_->Received(0).size();
    EXPECT_TRUE(device_->Send(0, message));
    if (!device_->WaitForReceived(0, before + 1, milliseconds(2000))) return {};
    return device_->Received(0).back();
  }

  std::unique_ptr<JackPeer> device_;
  midi::MidiInPort inPort_;
  midi::MidiOutPort outPort_;
  protocol::DeviceState state_;
  protocol::UpdateContext context_{inPort_, outPort_, state_};
  midi::CDxMTimer timer_;
};

TEST_F(JackDispatcherTest, MixedSequenceGivesTheExpectedSignalsAndAnswers) {
  // Replies the worker waits for.
  ASSERT_TRUE(SendAndWaitForSignal(
      {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x3D, 0x4B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(context_.replyStatus.load(), 0);
  EXPECT_EQ(context_.receivedDeviceCode.Get(), (protocol::DeviceCodeBytes{0x4B, 0, 0, 0}));

  ASSERT_TRUE(SendAndWaitForSignal({0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x0B, 0xF7}));
  EXPECT_EQ(context_.replyStatus.load(), 11);

  const uint8_t data[] = {0x01, 0x80, 0xFF, 0x7F};
  Bytes read(protocol::ReadDataReplyLength(4));
  protocol::BuildReadDataReply(read.data(), 0x4A, data, 4);
  ASSERT_TRUE(SendAndWaitForSignal(read));
  EXPECT_EQ(context_.replyStatus.load(), 0);
  EXPECT_EQ(state_.readBack.Count(), 4u);

  // The device's own requests get their answers, and no signal.
  EXPECT_EQ(SendAndWaitForAnswer({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}),
            (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x3D, 0x4A, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30,
                   0x30, 0xF7}));
  EXPECT_EQ(SendAndWaitForAnswer({0xF0, 0x3D, 0x00, 0x4A, 0x01, 0xF7}),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(SendAndWaitForAnswer({0xF0, 0x3D, 0x00, 0x4A, 0x0A, 0xF7}),
            (Bytes{0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x01, 0xF7}));

  // Foreign and malformed messages change nothing; the status reply behind them still counts.
  context_.replyStatus = 77;
  EXPECT_TRUE(device_->Send(0, {0xF0, 0x41, 0x00, 0x4A, 0x00, 0x00, 0xF7}));
  EXPECT_TRUE(device_->Send(0, {0xF0, 0x3D, 0x00, 0x4B, 0x00, 0x00, 0xF7}));
  EXPECT_TRUE(device_->Send(0, {0x90, 0x3C, 0x40}));
  EXPECT_TRUE(device_->Send(0, {0xF0, 0x3D, 0x00, 0xF7}));
  EXPECT_TRUE(device_->Send(0, {0xF0, 0x7E, 0x00, 0x07, 0x01, 0xF7}));
  ASSERT_TRUE(SendAndWaitForSignal({0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(context_.replyStatus.load(), 0);
  EXPECT_FALSE(context_.replyEvent.Wait(50)) << "a foreign or malformed message signalled";
  EXPECT_EQ(device_->Received(0).size(), 3u) << "a foreign or malformed message was answered";
  size_t length = 0;
  EXPECT_EQ(inPort_.PeekSysEx(&length), nullptr);
}

}  // namespace
}  // namespace q9m::testing
