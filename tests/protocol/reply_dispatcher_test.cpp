#include "protocol/reply_dispatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "protocol/messages.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::protocol {
namespace {

using testing::Bytes;

class ReplyDispatcherTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    answers_ = AddRecordedOutput("USB Audio Device");
    inputId_ = service_->AddInput("USB Audio Device");
    ASSERT_EQ(outPort_.Open(0), 1);
    device_.deviceCode.Set({0x4A, 0, 0, 0});
  }
  void TearDown() override {
    inPort_.Close();
    outPort_.Close();
    VirtualMidiTest::TearDown();
  }

  // 1 when the event was signalled since the last call. The event is auto-reset, so signals
  // given while nobody waited collapse into one: each row below dispatches one message.
  int Signals() { return context_.replyEvent.Wait(0) ? 1 : 0; }

  void Dispatch(const Bytes& m) { DispatchReply(context_, m.data(), m.size()); }

  midi::MidiInPort inPort_;
  midi::MidiOutPort outPort_;
  DeviceState device_;
  UpdateContext context_{inPort_, outPort_, device_};
  std::shared_ptr<testing::SentMessages> answers_;
  uint32_t inputId_ = 0;
};

const Bytes kAck = {0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7};
const Bytes kRefusal = {0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x01, 0xF7};
const Bytes kGoodReadData = {0xF0, 0x3D, 0x00, 0x4A, 0x60, 0x04, 0x30, 0x00, 0x00, 0x04, 0x00,
                             0x30, 0x01, 0x00, 0x7F, 0x7F, 0x59, 0x1B, 0x33, 0x25, 0x0D, 0xF7};

struct Row {
  const char* what;
  Bytes message;
  int statusAfter;  // ReplyStatus starts at 77 in every row
  int signals;
  std::optional<Bytes> answer;
  std::optional<DeviceCodeBytes> receivedCode;
  size_t readBackCount = 0;
};

TEST_F(ReplyDispatcherTest, DecisionTable) {
  const DeviceCodeBytes untouched{0xEE, 0xEE, 0xEE, 0xEE};
  Bytes badCrc = kGoodReadData;
  badCrc[16] ^= 0x01;
  Bytes wrongMarker = kGoodReadData;
  wrongMarker[6] = 0x31;
  Bytes notRead = kGoodReadData;
  notRead[5] = 0x05;
  const std::vector<Row> rows = {
      {"not F0", {0xF7, 0x3D, 0x00, 0x4A, 0x00, 0x00, 0xF7}, 77, 0, {}, {}},
      {"other model byte", {0xF0, 0x3D, 0x00, 0x4B, 0x00, 0x00, 0xF7}, 77, 0, {}, {}},
      {"status 00", kAck, 0, 1, {}, {}},
      {"status 0B", {0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x0B, 0xF7}, 11, 1, {}, {}},
      {"status 01", kRefusal, 1, 1, {}, {}},
      {"vendor 01", {0xF0, 0x3D, 0x00, 0x4A, 0x01, 0xF7}, 77, 0, kAck, {}},
      {"vendor 02", {0xF0, 0x3D, 0x00, 0x4A, 0x02, 0xF7}, 0, 1, {}, {}},
      {"vendor 03", {0xF0, 0x3D, 0x00, 0x4A, 0x03, 0xF7}, 77, 0, {}, {}},
      {"vendor 04", {0xF0, 0x3D, 0x00, 0x4A, 0x04, 0xF7}, 77, 0, kAck, {}},
      {"vendor 05", {0xF0, 0x3D, 0x00, 0x4A, 0x05, 0xF7}, 77, 0, kAck, {}},
      {"vendor 06", {0xF0, 0x3D, 0x00, 0x4A, 0x06, 0xF7}, 77, 0, kRefusal, {}},
      {"vendor 0A", {0xF0, 0x3D, 0x00, 0x4A, 0x0A, 0xF7}, 77, 0, kRefusal, {}},
      {"vendor 5F", {0xF0, 0x3D, 0x00, 0x4A, 0x5F, 0xF7}, 77, 0, kRefusal, {}},
      {"vendor 61", {0xF0, 0x3D, 0x00, 0x4A, 0x61, 0xF7}, 77, 0, kRefusal, {}},
      {"vendor 7F", {0xF0, 0x3D, 0x00, 0x4A, 0x7F, 0xF7}, 77, 0, kRefusal, {}},
      {"read data", kGoodReadData, 0, 1, {}, {}, 4},
      {"read data, CRC altered", badCrc, 1, 1, {}, {}},
      {"read data, wrong marker", wrongMarker, 1, 1, {}, {}},
      {"read data, byte 5 not 04", notRead, 77, 1, {}, {}},
      {"universal, not general information", {0xF0, 0x7E, 0x00, 0x07, 0x01, 0xF7}, 77, 0, {}, {}},
      {"identity request from the device",
       {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7},
       77,
       0,
       Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x3D, 0x4A, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30,
             0xF7},
       {}},
      {"identity reply",
       {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x4B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7},
       0,
       1,
       {},
       DeviceCodeBytes{0x4B, 0, 0, 0}},
      {"universal sub-ID 03", {0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7}, 77, 0, kRefusal, {}},
      {"foreign manufacturer", {0xF0, 0x41, 0x00, 0x4A, 0x00, 0x00, 0xF7}, 77, 0, {}, {}},
  };
  context_.sender.SetHostIdentity({0x4A, 0, 0, 0});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    context_.replyStatus = 77;
    context_.receivedDeviceCode.Set(untouched);
    device_.readBack.Reset();
    const size_t answersBefore = answers_->Count();
    Dispatch(row.message);
    EXPECT_EQ(context_.replyStatus.load(), row.statusAfter);
    EXPECT_EQ(Signals(), row.signals);
    EXPECT_EQ(context_.receivedDeviceCode.Get(), row.receivedCode.value_or(untouched));
    EXPECT_EQ(device_.readBack.Count(), row.readBackCount);
    EXPECT_EQ(device_.deviceCode.Get(), (DeviceCodeBytes{0x4A, 0, 0, 0}));
    const auto sent = answers_->All();
    ASSERT_EQ(sent.size(), answersBefore + (row.answer ? 1 : 0));
    if (row.answer) {
      EXPECT_EQ(sent.back(), *row.answer);
    }
  }
}

TEST_F(ReplyDispatcherTest, ReadDataAppendsAfterWhatIsCounted) {
  Dispatch(kGoodReadData);
  EXPECT_EQ(Signals(), 1);
  Dispatch(kGoodReadData);
  EXPECT_EQ(device_.readBack.Count(), 8u);
  uint8_t data[8];
  ASSERT_TRUE(device_.readBack.Read(0, data, 8));
  EXPECT_EQ(Bytes(data, data + 8), (Bytes{0x01, 0x80, 0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x7F}));
  EXPECT_EQ(Signals(), 1);
}

TEST_F(ReplyDispatcherTest, BeforeIdentificationOnlyModel00IsHeard) {
  device_.deviceCode.Set({0, 0, 0, 0});
  context_.replyStatus = 77;
  Dispatch(kAck);  // carries 4A
  EXPECT_EQ(Signals(), 0);
  Dispatch({0xF0, 0x3D, 0x00, 0x00, 0x00, 0x00, 0xF7});
  EXPECT_EQ(Signals(), 1);
  EXPECT_EQ(context_.replyStatus.load(), 0);
  Dispatch({0xF0, 0x3D, 0x00, 0x00, 0x04, 0xF7});
  ASSERT_EQ(answers_->Count(), 1u);
  EXPECT_EQ(answers_->All()[0], (Bytes{0xF0, 0x3D, 0x00, 0x00, 0x00, 0x00, 0xF7}));
}

TEST_F(ReplyDispatcherTest, ReadDataThatDoesNotFitIsRefusedWithoutWriting) {
  // A reply whose count promises far more than it carries must not read past the message.
  Bytes promise = kGoodReadData;
  promise[9] = 0x7F;
  promise[10] = 0x7F;  // 16383 bytes announced, 4 carried
  context_.replyStatus = 77;
  Dispatch(promise);
  EXPECT_EQ(context_.replyStatus.load(), 1);
  EXPECT_EQ(Signals(), 1);
  EXPECT_EQ(device_.readBack.Count(), 0u);
}

TEST_F(ReplyDispatcherTest, ReadBackBufferNeverOverflows) {
  // 355 replies of 16,383 bytes fill 5,815,965 bytes; the next one would pass the end.
  Bytes data(16383, 0x5A);
  Bytes reply(ReadDataReplyLength(data.size()));
  reply.resize(BuildReadDataReply(reply.data(), 0x4A, data.data(), data.size()));
  for (int i = 0; i < 355; ++i) Dispatch(reply);
  ASSERT_EQ(device_.readBack.Count(), 355u * 16383u);
  Signals();  // the earlier replies' signal
  context_.replyStatus = 77;
  Dispatch(reply);
  EXPECT_EQ(context_.replyStatus.load(), 1);
  EXPECT_EQ(Signals(), 1);
  EXPECT_EQ(device_.readBack.Count(), 355u * 16383u);
}

// Every prefix of every message kind, each copied into a heap block of exactly its length so
// that AddressSanitizer sees any read past it. A message cut before the bytes its kind needs
// is dropped: no signal and no answer.
TEST_F(ReplyDispatcherTest, EveryTruncationIsHandledWithinTheCopy) {
  struct Kind {
    Bytes full;
    size_t needed;  // the shortest prefix that is acted on
  };
  const std::vector<Kind> kinds = {
      {kAck, 6},
      {kGoodReadData, 21},  // data and CRC complete; the final F7 is not examined
      {{0xF0, 0x3D, 0x00, 0x4A, 0x01, 0xF7}, 5},
      {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, 5},
      {{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x4B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7},
       10},
      {{0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7}, 5},
  };
  for (const Kind& kind : kinds) {
    for (size_t length = 1; length <= kind.full.size(); ++length) {
      SCOPED_TRACE(::testing::Message() << "kind " << int(kind.full[4]) << " length " << length);
      auto copy = std::make_unique<uint8_t[]>(length);
      std::memcpy(copy.get(), kind.full.data(), length);
      context_.replyStatus = 77;
      device_.readBack.Reset();
      const size_t answersBefore = answers_->Count();
      DispatchReply(context_, copy.get(), length);
      const bool acted = Signals() > 0 || answers_->Count() > answersBefore;
      if (kind.full == kGoodReadData) {
        // A read reply cut inside its data or CRC is refused (status 1), never taken as good.
        EXPECT_EQ(device_.readBack.Count(), length >= kind.needed ? 4u : 0u);
        if (length >= 7 && length < kind.needed) {
          EXPECT_EQ(context_.replyStatus.load(), 1);
        }
        if (length < 6) {
          EXPECT_FALSE(acted);
        }
      } else {
        EXPECT_EQ(acted, length >= kind.needed);
        if (length < kind.needed) {
          EXPECT_EQ(context_.replyStatus.load(), 77);
        }
      }
    }
  }
}

TEST_F(ReplyDispatcherTest, OneTickDrainsTheQueueInOrder) {
  ASSERT_EQ(inPort_.Start(), 1);
  service_->Inject(inputId_, {0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x0B, 0xF7});
  service_->Inject(inputId_, {0x12, 0x34});  // not SysEx at all
  service_->Inject(inputId_, {0xF0, 0x3D, 0x00, 0x4A, 0x01, 0xF7});
  service_->Inject(inputId_, {0xF0, 0x3D, 0x00, 0x4A, 0x00, 0x05, 0xF7});
  DispatchReplies(context_);
  size_t length = 0;
  EXPECT_EQ(inPort_.PeekSysEx(&length), nullptr);
  EXPECT_EQ(context_.replyStatus.load(), 5);  // the last status wins
  EXPECT_EQ(Signals(), 1);                    // auto-reset: two signals collapse into one
  ASSERT_EQ(answers_->Count(), 1u);
  EXPECT_EQ(answers_->All()[0], kAck);
}

}  // namespace
}  // namespace q9m::protocol
