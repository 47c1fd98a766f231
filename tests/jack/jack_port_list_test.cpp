// Port lists on a JACK server: the names the peers give their ports, none of the backend's
// own ports, a stable order, and opening the port at a listed index.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>

#include "midi/midi_out_port.h"
#include "platform/midi_service.h"
#include "tests/jack/jack_environment.h"
#include "ui/port_preselection.h"

namespace q9m::testing {
namespace {

using namespace q9m::platform;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class JackPortListTest : public JackTest {};

bool SendTo(uint32_t index, const Bytes& message) {
  midi::MidiOutPort port;
  if (port.Open(index) != 1) return false;
  Bytes copy = message;
  MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(copy.data());
  header.dwBufferLength = static_cast<uint32_t>(copy.size());
  return port.SendLong(&header) == 1;
}

TEST_F(JackPortListTest, ListsPeerPortsWithoutTheClientPrefix) {
  // JACK refuses two ports of one client with the same name, so the two directions differ.
  auto device = OpenPeer("Q9m", {"Q9m MIDI 1", "Second In"}, {"Q9m MIDI 2"});
  ASSERT_TRUE(device);
  EXPECT_THAT(OutputNames(), ElementsAre("Q9m MIDI 1", "Second In"));
  EXPECT_THAT(InputNames(), ElementsAre("Q9m MIDI 2"));

  device.reset();
  EXPECT_THAT(OutputNames(), IsEmpty());
  EXPECT_THAT(InputNames(), IsEmpty());
}

TEST_F(JackPortListTest, OwnPortsAreNotListed) {
  auto device = OpenPeer("Q9m", {"Q9m In"}, {"Q9m Out"});
  ASSERT_TRUE(device);
  // An open output and an open input each register a port of the backend's own.
  HMIDIOUT out{};
  ASSERT_EQ(midiOutOpen(&out, *OutputIndex("Q9m In"), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  HMIDIIN in{};
  ASSERT_EQ(midiInOpen(&in, *InputIndex("Q9m Out"), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  // Another client of this program, under the same name (the server renames it "-NN").
  RtMidiIn stray(RtMidi::UNIX_JACK, kBackendClientName);
  stray.openVirtualPort("stray");

  const auto all = device->AllMidiPorts();
  const auto ours = std::count_if(all.begin(), all.end(), [](const std::string& port) {
    return port.rfind(kBackendClientName, 0) == 0;
  });
  EXPECT_EQ(ours, 3) << "the backend's ports and the stray one exist on the server";
  EXPECT_THAT(OutputNames(), ElementsAre("Q9m In"));
  EXPECT_THAT(InputNames(), ElementsAre("Q9m Out"));

  EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(JackPortListTest, LongNamesAreCutTo31Characters) {
  const std::string longName = "Q9m Guitar Effects Processor MIDI Port 1";
  std::string katakanas;  // 40 times オ, 120 bytes
  for (int i = 0; i < 40; ++i) katakanas += "\xE3\x82\xAA";
  auto device = OpenPeer("Q9m", {longName, katakanas}, {});
  ASSERT_TRUE(device);
  EXPECT_THAT(OutputNames(), ElementsAre(longName.substr(0, 31), katakanas.substr(0, 31 * 3)));
  char name[midi::kPortNameBufferSize];
  midi::MidiOutPort::GetDeviceName(0, name);
  EXPECT_EQ(std::string(name), longName.substr(0, 31));
  midi::MidiOutPort::GetDeviceName(1, name);
  EXPECT_EQ(std::string(name), katakanas.substr(0, 31 * 3));
}

TEST_F(JackPortListTest, JapaneseDeviceNameIsListedWholeAndPreselected) {
  // The name the device reports on a Japanese system: 14 characters, 32 bytes in UTF-8.
  const std::string japanese = ui::PreferredPortNames[0];
  // One client per direction: JACK refuses two ports of one client with the same name.
  auto listening = OpenPeer("Q9m-in", {"Other In", japanese}, {});
  auto answering = OpenPeer("Q9m-out", {}, {japanese});
  ASSERT_TRUE(listening && answering);
  EXPECT_THAT(OutputNames(), ElementsAre("Other In", japanese));
  EXPECT_THAT(InputNames(), ElementsAre(japanese));
  EXPECT_EQ(ui::PreselectPort(OutputNames(), 1), 1);
  EXPECT_EQ(ui::PreselectPort(InputNames(), 1), 0);
}

TEST_F(JackPortListTest, ABridgedDeviceIsListedByTheNameInItsPortsAlias) {
  // jackd -X alsarawmidi names only the port's alias after the device, and drops long messages.
  auto bridge = OpenPeer("system_midi", {"playback_1"}, {});
  ASSERT_TRUE(bridge);
  ASSERT_TRUE(bridge->AliasInput(0, "system:2-1 USB Audio Device 1 out"));
  EXPECT_THAT(OutputNames(), ElementsAre("USB Audio Device"));
  EXPECT_NE(MidiOutPortWarning(0), "");
}

TEST_F(JackPortListTest, IndexOpensTheListedPortAndStaysWhileOthersCome) {
  auto first = OpenPeer("first", {"A"}, {});
  auto second = OpenPeer("second", {"B"}, {});
  ASSERT_TRUE(first && second);
  ASSERT_THAT(OutputNames(), ElementsAre("A", "B"));

  // A port that appears later is added after the ones already listed.
  auto third = OpenPeer("third", {"C"}, {});
  ASSERT_TRUE(third);
  ASSERT_THAT(OutputNames(), ElementsAre("A", "B", "C"));
  const Bytes toB = PatternMessage(100, 2);
  ASSERT_TRUE(SendTo(1, toB));
  EXPECT_THAT(first->Received(0), IsEmpty());
  EXPECT_THAT(second->Received(0), ElementsAre(toB));
  EXPECT_THAT(third->Received(0), IsEmpty());

  // When a port goes away, the ones after it move up, in the same order.
  first.reset();
  ASSERT_THAT(OutputNames(), ElementsAre("B", "C"));
  const Bytes toC = PatternMessage(50, 3);
  ASSERT_TRUE(SendTo(1, toC));
  EXPECT_THAT(third->Received(0), ElementsAre(toC));
  EXPECT_THAT(second->Received(0), ElementsAre(toB));
}

TEST_F(JackPortListTest, OpeningAnIndexBeyondTheListFails) {
  auto device = OpenPeer("Q9m", {"Only In"}, {"Only Out"});
  ASSERT_TRUE(device);
  HMIDIOUT out{};
  EXPECT_EQ(midiOutOpen(&out, midiOutGetNumDevs(), 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  HMIDIIN in{};
  EXPECT_EQ(midiInOpen(&in, midiInGetNumDevs(), 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

}  // namespace
}  // namespace q9m::testing
