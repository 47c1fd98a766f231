// The names and ids under which the winmm backend lists the system's ports.
#include <gtest/gtest.h>

#include "platform/winmm/winmm_port_names.h"

namespace q9m::platform::winmm {
namespace {

std::vector<std::string> Names(const std::vector<WinmmPort>& ports) {
  std::vector<std::string> names;
  for (const WinmmPort& port : ports) names.push_back(port.listed.name);
  return names;
}

TEST(WinmmPortNamesTest, WindowsNumberedDevicesAreListedWithTheNumberAtTheEnd) {
  EXPECT_EQ(ListedWinmmName("2- USB Audio Device"), "USB Audio Device (2)");
  EXPECT_EQ(ListedWinmmName("12- USB Audio Device"), "USB Audio Device (12)");
  // Windows cuts "N- " and the name to 31 characters; the number stays whole at the end.
  const std::string listed = ListedWinmmName("3- Vela Effects Processor Model");
  EXPECT_EQ(listed, "Vela Effects Processor Mode (3)");
  EXPECT_EQ(listed.size(), 31u);
  // Not Windows' numbering: left as they are.
  for (const char* name : {"USB Audio Device", "1- Synth", "02- Synth", "2-Synth", "2- ",
                           "1234- Synth", "MIDIIN2 (USB Audio Device)"}) {
    EXPECT_EQ(ListedWinmmName(name), name);
  }
}

TEST(WinmmPortNamesTest, IdenticalNamesAreNumberedAndIdsSurviveShiftingIndexes) {
  const std::string japanese =  // USB オーディオ デバイス, 15 characters in 33 bytes
      "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
      "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";
  const auto ports = NameWinmmPorts({PortCaps{"USB Audio Device"}, std::nullopt,
                                     PortCaps{"USB Audio Device"}, PortCaps{"2- USB Audio Device"},
                                     PortCaps{japanese}, PortCaps{"Synth", "\\\\?\\usb#1"}});
  // Some models give two devices the same name; a port that cannot be described is not listed.
  EXPECT_EQ(Names(ports), (std::vector<std::string>{"USB Audio Device", "USB Audio Device (2)",
                                                    "USB Audio Device (3)", japanese, "Synth"}));
  EXPECT_EQ(ports[1].deviceId, 2u);
  EXPECT_EQ(ports[4].deviceId, 5u);

  // The first device goes away: the second keeps its id, though its index is now 0.
  const auto later =
      NameWinmmPorts({PortCaps{"USB Audio Device"}, PortCaps{"Synth", "\\\\?\\usb#1"}});
  EXPECT_EQ(later[1].listed.id, ports[4].listed.id);
  EXPECT_EQ(later[0].listed.id, ports[0].listed.id);  // a name alone can only count
  EXPECT_NE(ports[0].listed.id, ports[1].listed.id);
}

}  // namespace
}  // namespace q9m::platform::winmm
