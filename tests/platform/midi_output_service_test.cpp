#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/midi_service.h"
#include "platform/timer_service.h"
#include "tests/support/virtual_midi_fixture.h"
#include "tests/support/wait_for.h"

namespace q9m::platform {
namespace {

using testing::Bytes;

class MidiOutputServiceTest : public testing::VirtualMidiTest {
 protected:
  void SetUp() override {
    VirtualMidiTest::SetUp();
    sent_ = AddRecordedOutput("USB Audio Device", &id_);
    ASSERT_EQ(midiOutOpen(&handle_, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    header_.lpData = reinterpret_cast<char*>(message_.data());
    header_.dwBufferLength = static_cast<uint32_t>(message_.size());
  }

  std::shared_ptr<testing::SentMessages> sent_;
  uint32_t id_ = 0;
  HMIDIOUT handle_{};
  Bytes message_ = {0xF0, 0x3D, 0x00, 0x4A, 0x04, 0xF7};
  MIDIHDR header_{};
};

TEST_F(MidiOutputServiceTest, HeadersMustBePreparedAndCannotBeUnpreparedInFlight) {
  EXPECT_EQ(midiOutLongMsg(handle_, &header_, sizeof header_), MIDIERR_UNPREPARED);
  service_->DelayDone(id_, std::chrono::hours(1));
  ASSERT_EQ(midiOutPrepareHeader(handle_, &header_, sizeof header_), MMSYSERR_NOERROR);
  ASSERT_EQ(midiOutLongMsg(handle_, &header_, sizeof header_), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutUnprepareHeader(handle_, &header_, sizeof header_), MIDIERR_STILLPLAYING);
  EXPECT_EQ(midiOutLongMsg(handle_, &header_, sizeof header_), MIDIERR_STILLPLAYING);
  EXPECT_EQ(LoadFlags(&header_) & MHDR_DONE, 0u);

  // A sender waiting on the flags wakes when the header is completed (here by the close), not
  // when its minute is up.
  std::atomic<bool> woken{false};
  std::thread sender([&] {
    for (uint32_t flags; ((flags = LoadFlags(&header_)) & MHDR_DONE) == 0;) {
      WaitForFlagChange(&header_, flags, 60'000);
    }
    woken = true;
  });
  EXPECT_EQ(midiOutClose(handle_), MMSYSERR_NOERROR);
  EXPECT_TRUE(q9m::testing::WaitFor([&] { return woken.load(); }));
  sender.join();
  EXPECT_EQ(LoadFlags(&header_) & (MHDR_DONE | MHDR_INQUEUE), MHDR_DONE);
  EXPECT_EQ(sent_->Count(), 1u);
}

TEST_F(MidiOutputServiceTest, ClosedHandlesAreRefusedAndNeverReused) {
  EXPECT_EQ(OpenMidiPorts(), 1);  // counted for the dispatcher's timer
  ASSERT_EQ(midiOutClose(handle_), MMSYSERR_NOERROR);
  EXPECT_EQ(OpenMidiPorts(), 0);
  HMIDIOUT second{};
  ASSERT_EQ(midiOutOpen(&second, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_NE(second, handle_);
  EXPECT_EQ(midiOutPrepareHeader(handle_, &header_, sizeof header_), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midiOutShortMsg(handle_, 0x90), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midiOutClose(handle_), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(OpenMidiPorts(), 1);
  EXPECT_EQ(midiOutClose(second), MMSYSERR_NOERROR);
  EXPECT_EQ(OpenMidiPorts(), 0);
}

TEST_F(MidiOutputServiceTest, OpenChecksIndexFlagsAndService) {
  HMIDIOUT other{};
  EXPECT_EQ(midiOutOpen(&other, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(midiOutOpen(&other, 0xFFFFFFFF, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(midiOutOpen(&other, 0, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALFLAG);
  EXPECT_EQ(other, HMIDIOUT{});
  MIDIOUTCAPSA caps{};
  EXPECT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "USB Audio Device");
  EXPECT_EQ(midiOutGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_BADDEVICEID);

  StopMidiService();
  EXPECT_EQ(OpenMidiPorts(), 0);
  EXPECT_EQ(midiOutGetNumDevs(), 0u);
  EXPECT_EQ(midiOutOpen(&other, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
  ASSERT_EQ(midiOutPrepareHeader(handle_, &header_, sizeof header_), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace q9m::platform
