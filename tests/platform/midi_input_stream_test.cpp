#include "platform/midi_input_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/midi_service.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::platform {
namespace {

// An owner that hands every returned header straight back, as many drivers' clients do.
struct Owner {
  HMIDIIN handle{};
  std::vector<uint32_t> shortMessages;
  int longData = 0;
  bool handBack = true;
};

void RecordingCallback(HMIDIIN handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t) {
  auto* owner = reinterpret_cast<Owner*>(instance);
  if (message == MIM_DATA) owner->shortMessages.push_back(static_cast<uint32_t>(param1));
  if (message == MIM_LONGDATA) {
    ++owner->longData;
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    if (owner->handBack) midiInAddBuffer(handle, header, sizeof *header);
  }
}

class MidiInputStreamTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    inId_ = service_->AddInput("In");
    ASSERT_EQ(midiInOpen(&owner_.handle, 0, reinterpret_cast<uintptr_t>(&RecordingCallback),
                         reinterpret_cast<uintptr_t>(&owner_), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
  }
  void Inject(const testing::Bytes& bytes) { ASSERT_TRUE(service_->Inject(inId_, bytes)); }

  uint32_t inId_ = 0;
  Owner owner_;
};

TEST_F(MidiInputStreamTest, ResetReturnsEachHeaderOnceEvenWhenItIsHandedBack) {
  char buffer[64];
  MIDIHDR header{};
  header.lpData = buffer;
  header.dwBufferLength = sizeof buffer;
  ASSERT_EQ(midiInPrepareHeader(owner_.handle, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInAddBuffer(owner_.handle, &header, sizeof header), MMSYSERR_NOERROR);

  ASSERT_EQ(midiInReset(owner_.handle), MMSYSERR_NOERROR);
  EXPECT_EQ(owner_.longData, 1);
  // The owner handed it back, so the port holds it again and a second reset returns it again.
  EXPECT_EQ(midiInUnprepareHeader(owner_.handle, &header, sizeof header), MIDIERR_STILLPLAYING);
  ASSERT_EQ(midiInReset(owner_.handle), MMSYSERR_NOERROR);
  EXPECT_EQ(owner_.longData, 2);
  EXPECT_EQ(header.dwBytesRecorded, 0u);

  owner_.handBack = false;  // the header lives on this stack: take it back for good
  ASSERT_EQ(midiInReset(owner_.handle), MMSYSERR_NOERROR);
  EXPECT_EQ(owner_.longData, 3);
  EXPECT_EQ(midiInUnprepareHeader(owner_.handle, &header, sizeof header), MMSYSERR_NOERROR);
}

TEST_F(MidiInputStreamTest, AStopForgetsAHalfReceivedShortMessage) {
  ASSERT_EQ(midiInStart(owner_.handle), MMSYSERR_NOERROR);
  Inject({0x90, 0x40});  // cut off by the stop
  ASSERT_EQ(midiInStop(owner_.handle), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(owner_.handle), MMSYSERR_NOERROR);
  Inject({0x7F, 0x91, 0x41, 0x7F});
  EXPECT_EQ(owner_.shortMessages, std::vector<uint32_t>{0x7F4191});
}

TEST_F(MidiInputStreamTest, RunningStatusDoesNotLastAcrossAStop) {
  ASSERT_EQ(midiInStart(owner_.handle), MMSYSERR_NOERROR);
  Inject({0x90, 0x40, 0x7F, 0x41, 0x7F});  // the second note under running status
  ASSERT_EQ(midiInStop(owner_.handle), MMSYSERR_NOERROR);
  ASSERT_EQ(midiInStart(owner_.handle), MMSYSERR_NOERROR);
  // Data bytes after the restart (the rest of a message that began before) stand alone.
  Inject({0x42, 0x7F, 0x43, 0x7F});
  EXPECT_EQ(owner_.shortMessages, (std::vector<uint32_t>{0x7F4090, 0x7F4190}));
  ASSERT_EQ(midiInReset(owner_.handle), MMSYSERR_NOERROR);
  Inject({0x80, 0x40, 0x00});  // not started after the reset: dropped
  ASSERT_EQ(midiInStart(owner_.handle), MMSYSERR_NOERROR);
  Inject({0x40, 0x00});
  EXPECT_EQ(owner_.shortMessages.size(), 2u);
}

TEST(MidiInputStreamLossTest, ALossAbandonsTheHalfReceivedMessageAndTheRestOfItsPieces) {
  Owner owner;
  owner.handBack = false;
  MidiInputStream stream(HMIDIIN{1}, &RecordingCallback, reinterpret_cast<uintptr_t>(&owner));
  char buffer[64] = {};
  MIDIHDR header{};
  header.lpData = buffer;
  header.dwBufferLength = sizeof buffer;
  ASSERT_EQ(stream.AddBuffer(&header), MMSYSERR_NOERROR);
  stream.Start();
  const uint8_t first[] = {0xF0, 0x3D, 0x01, 0x02};  // a reply whose end was lost
  const uint8_t rest[] = {0x03, 0x04, 0xF7};         // the end of another, whose start was
  const uint8_t next[] = {0xF0, 0x3D, 0x05, 0xF7};
  stream.Receive(first, sizeof first);
  stream.Lost();
  stream.Receive(rest, sizeof rest);
  EXPECT_EQ(owner.longData, 0);
  stream.Receive(next, sizeof next);
  ASSERT_EQ(owner.longData, 1);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + header.dwBytesRecorded),
            std::vector<uint8_t>(next, next + sizeof next));
  stream.Reset();
}

}  // namespace
}  // namespace q9m::platform
