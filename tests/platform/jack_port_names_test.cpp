// JACK port names: the client prefix, the program's own clients, and the ALSA devices behind
// the bridges, checked with names and aliases as the bridges' sources write them.
#include <gtest/gtest.h>

#include "platform/jack/jack_port_names.h"
#include "platform/port_naming.h"

namespace q9m::platform::jack {
namespace {

TEST(JackPortNameTest, TheClientPrefixIsRemovedUpToTheFirstColon) {
  EXPECT_EQ(CleanJackPortName("Q9m:Q9m MIDI 1"), "Q9m MIDI 1");
  EXPECT_EQ(JackClientOf("Q9m:Q9m MIDI 1"), "Q9m");
  // Port names may hold colons of their own (a2jmidid's do); only the first one separates.
  EXPECT_EQ(CleanJackPortName("a2j:Q9m [24] (capture): [0] Q9m MIDI 1"),
            "Q9m [24] (capture): [0] Q9m MIDI 1");
  EXPECT_EQ(JackClientOf("a2j:Q9m [24] (capture): [0] Q9m MIDI 1"), "a2j");
  EXPECT_EQ(CleanJackPortName("no client"), "no client");
  EXPECT_EQ(JackClientOf("no client"), "");
}

struct BridgeCase {
  const char* bridge;
  std::vector<JackPortNames> ports;  // in the server's order
  std::vector<std::string> listed;   // the names on the port lists, in the order they are named
  bool warned;                       // every port carries a warning, or none does
};

TEST(JackPortNameTest, BridgedAlsaDevicesAreListedAsOnAlsaWithTheBridgesLimits) {
  const std::string usb = "USB Audio Device";
  const std::vector<BridgeCase> cases = {
      {"a2jmidid since 2019: two identical devices",
       {{"a2j:USB Audio Device [20] (capture): [0] USB Audio Device MIDI 1"},
        {"a2j:USB Audio Device [24] (capture): [0] USB Audio Device MIDI 1"}},
       {usb, usb + " (2)"},
       true},
      {"a2jmidid since 2019: a device with two ports",
       {{"a2j:Synth [28] (playback): [0] Synth MIDI 1"},
        {"a2j:Synth [28] (playback): [1] Synth MIDI 2"}},
       {"Synth MIDI 1", "Synth MIDI 2"},
       true},
      {"a2jmidid 9",
       {{"a2j:USB Audio Device [20] (capture): USB Audio Device MIDI 1"},
        {"a2j:Synth [28] (capture): Synth MIDI 1"},
        {"a2j:Synth [28] (capture): Synth MIDI 2"}},
       {usb, "Synth MIDI 1", "Synth MIDI 2"},
       true},
      {"a2jmidid -u", {{"a2j:USB Audio Device (capture): USB Audio Device MIDI 1"}}, {usb}, true},
      {"PipeWire 0.3.25 to 0.3.57",
       {{"Midi-Bridge:USB Audio Device:(capture_0) USB Audio Device MIDI 1"}},
       {usb},
       true},
      {"PipeWire 0.3.58 to 1.2, the card's long name",
       {{"Midi-Bridge:C-Media Electronics Inc- USB Audio Device at usb-0000:00:14-0-2- full "
         "speed:(playback_0) USB Audio Device MIDI 1"}},
       {usb},
       true},
      {"PipeWire 1.4: two identical devices, the second name made unique",
       {{"Midi-Bridge:USB Audio Device MIDI 1 (capture)"},
        {"Midi-Bridge:Virtual Raw MIDI 0-0VirMIDI 0-0 (capture)"},
        {"Midi-Bridge:USB Audio Device MIDI 1 (capture)-57"}},
       {usb, "Virtual Raw MIDI 0-0VirMIDI 0-0", usb + " (2)"},
       true},
      {"PipeWire 1.4 with client numbers",
       {{"Midi-Bridge:[20:0] USB Audio Device MIDI 1 (playback)"},
        {"Midi-Bridge:[24:0] USB Audio Device MIDI 1 (playback)"}},
       {usb, usb + " (2)"},
       true},
      {"PipeWire 1.7: two identical devices with two ports",
       {{"Midi-Bridge:USB Audio Device: MIDI 1 (capture)"},
        {"Midi-Bridge:USB Audio Device: MIDI 2 (capture)"},
        {"Midi-Bridge:Synth:Port 1 (capture)"},
        {"Midi-Bridge:USB Audio Device: MIDI 1 (capture)-61"},
        {"Midi-Bridge:USB Audio Device: MIDI 2 (capture)-62"}},
       {usb + " MIDI 1", usb + " MIDI 2", "Synth", usb + " MIDI 1 (2)", usb + " MIDI 2 (2)"},
       true},
      {"jackd -X seq, listed in the order of the port numbers",
       {{"system:midi_capture_2",
         {"alsa_midi:USB Audio Device MIDI 1 (out)", "USB Audio Device:MIDI 1 (capture)"}},
        {"system:midi_capture_10", {"alsa_midi:Synth Port 1 (out)", "Synth:Port 1 (capture)"}},
        {"system:midi_capture_1",
         {"alsa_midi:USB Audio Device MIDI 1 (out)", "USB Audio Device:MIDI 1 (capture)"}}},
       {usb, usb + " (2)", "Synth"},
       true},
      {"jackd -X raw",
       {{"system:midi_playback_1", {"alsa_midi:USB Audio Device MIDI 1 (in)"}},
        {"system:midi_playback_2", {"alsa_midi:USB Audio Device MIDI 1 (in)"}}},
       {usb, usb + " (2)"},
       false},
      {"jackd -X alsarawmidi",
       {{"system_midi:playback_1", {"system:3-1 USB Audio Device 1 out"}},
        {"system_midi:playback_2", {"system:2-1 USB Audio Device 1 out"}}},
       {usb, usb + " (2)"},
       true},
      {"plain JACK ports",
       {{"Q9m:Q9m MIDI 1"}, {"system:midi_capture_1"}, {"a2j:no direction"}, {"Midi-Bridge:x"}},
       {"Q9m MIDI 1", "no direction", "x", "midi_capture_1"},
       false},
  };
  for (const BridgeCase& c : cases) {
    std::vector<std::string> listed;
    for (const ListedPort& port : NameDevicePorts(DescribeJackPorts(c.ports))) {
      listed.push_back(port.name);
      EXPECT_EQ(!port.warning.empty(), c.warned) << c.bridge << ": " << port.id;
    }
    EXPECT_EQ(listed, c.listed) << c.bridge;
  }
}

}  // namespace
}  // namespace q9m::platform::jack
