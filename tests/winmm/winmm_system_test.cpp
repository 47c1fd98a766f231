// The system's winmm, as far as it can be checked anywhere: under wine without an ALSA
// sequencer there are no ports, and ports that do not exist are refused, not opened.
#include <gtest/gtest.h>

#include "platform/midi_service.h"
#include "platform/midi_system.h"
#include "platform/winmm/winmm_driver.h"

namespace q9m::platform {
namespace {

class NoEvents final : public winmm::InputEvents {
  void ShortData(uint32_t) override {}
  void LongData(winmm::LongBuffer&, bool) override {}
};

TEST(WinmmSystemTest, PortsThatDoNotExistAreRefusedAsBadDeviceIds) {
  auto driver = winmm::MakeSystemDriver();
  const uint32_t outs = driver->OutputCount();
  const uint32_t ins = driver->InputCount();
  EXPECT_FALSE(driver->OutputCaps(outs));
  EXPECT_FALSE(driver->InputCaps(ins + 3));
  winmm::Result error = winmm::kNoError;
  EXPECT_EQ(driver->OpenOutput(outs, error), nullptr);
  EXPECT_EQ(error, winmm::kBadDeviceId);
  NoEvents events;
  EXPECT_EQ(driver->OpenInput(ins + 3, events, error), nullptr);
  EXPECT_EQ(error, winmm::kBadDeviceId);
}

TEST(WinmmSystemTest, TheServiceOnWinmmListsWhatTheSystemHas) {
  std::string error;
  ASSERT_TRUE(StartRealMidiService("winmm-test", &error)) << error;
  auto driver = winmm::MakeSystemDriver();
  EXPECT_EQ(midiOutGetNumDevs(), driver->OutputCount());
  EXPECT_EQ(midiInGetNumDevs(), driver->InputCount());
  HMIDIOUT out{};
  EXPECT_EQ(midiOutOpen(&out, midiOutGetNumDevs(), 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  if (driver->OutputCount() == 0) {
    // Under wine without a sequencer.
    MIDIOUTCAPSA caps;
    EXPECT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  }
  StopMidiService();
}

}  // namespace
}  // namespace q9m::platform
