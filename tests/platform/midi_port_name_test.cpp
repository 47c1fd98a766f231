// Port names: the decorations that ALSA puts around a device's own name, the numbering of
// identical devices, the order of a port list, and the cut to a capability record.
#include <gtest/gtest.h>

#include "platform/alsa/alsa_port_names.h"
#include "platform/midi_service.h"
#include "platform/port_list.h"
#include "platform/port_naming.h"

namespace q9m::platform {
namespace {

TEST(DeviceNameTest, DevicesAreListedByTheirOwnNamesAndIdenticalOnesNumberedInOrder) {
  // Two identical USB devices (clients 24 and 32), a device with two ports, and a program whose
  // port names say nothing of the program.
  const auto listed = NameDevicePorts({
      {"24:0", "24", "USB Audio Device", "USB Audio Device MIDI 1"},
      {"28:0", "28", "Synth", "Synth MIDI 1"},
      {"28:1", "28", "Synth", "Synth MIDI 2"},
      {"32:0", "32", "USB Audio Device", "USB Audio Device MIDI 1"},
      {"128:0", "128", "sequencer", "out"},
      {"129:0", "129", "looper", "in"},
      {"129:1", "129", "looper", "thru"},
  });
  std::vector<std::string> names;
  for (const ListedPort& port : listed) names.push_back(port.name);
  EXPECT_EQ(names, (std::vector<std::string>{"USB Audio Device", "Synth MIDI 1", "Synth MIDI 2",
                                             "USB Audio Device (2)", "sequencer", "looper in",
                                             "looper thru"}));
  EXPECT_EQ(listed[3].id, "32:0");
}

TEST(DeviceNameTest, TheNumberOfALongNameSurvivesTheCutToARecord) {
  const std::string longName(40, 'x');
  const auto numbered = NumberIdenticalNames({longName, longName, "a", longName});
  EXPECT_EQ(numbered[0], std::string(31, 'x'));
  EXPECT_EQ(numbered[1], std::string(27, 'x') + " (2)");
  EXPECT_EQ(numbered[2], "a");
  EXPECT_EQ(numbered[3], std::string(27, 'x') + " (3)");
  // Names that differ only beyond the record's length are identical in the list.
  EXPECT_EQ(NumberIdenticalNames({longName + "1", longName + "2"})[1],
            std::string(27, 'x') + " (2)");
}

TEST(DeviceNameTest, EveryCopysClientsAreTheProgramsOwnAndNoOneElses) {
  for (const char* ours : {"q9m-updater", "q9m-updater-2"}) {
    for (const char* client :
         {"q9m-updater", "q9m-updater-01", "q9m-updater-2", "q9m-updater-20", "q9m-updater-3-01"}) {
      EXPECT_TRUE(IsProgramClient(client, ours)) << client << " of " << ours;
    }
    for (const char* client : {"q9m-updater-", "q9m-updater-peer", "q9m-updater2", "q9m",
                               "Q9m-updater", "q9m-update-cli", "USB Audio Device"}) {
      EXPECT_FALSE(IsProgramClient(client, ours)) << client << " of " << ours;
    }
  }
  EXPECT_TRUE(IsProgramClient("q9m-update-cli-4711-01", "q9m-update-cli-815"));
  EXPECT_FALSE(IsProgramClient("-2", "-1"));
}

TEST(AlsaPortTest, AddressesAndTheRawDeviceBehindAPort) {
  EXPECT_EQ(alsa::ParseSeqAddress("24:0"), (alsa::SeqAddress{24, 0}));
  EXPECT_EQ(alsa::FormatSeqAddress({128, 3}), "128:3");
  for (const char* bad : {"", "24", ":0", "24:", "a:0", "24:0x", "99999:0"}) {
    EXPECT_FALSE(alsa::ParseSeqAddress(bad)) << bad;
  }
  EXPECT_EQ(alsa::RawMidiName({2, 0, 1}), "hw:2,0,1");
  EXPECT_EQ(alsa::VirMidiDeviceOfClient("Virtual Raw MIDI 0-3"), (alsa::RawMidiAddress{0, 3, -1}));
  EXPECT_FALSE(alsa::VirMidiDeviceOfClient("Virtual Raw MIDI 0-3 x"));
  EXPECT_FALSE(alsa::VirMidiDeviceOfClient("USB Audio Device"));
}

TEST(AlsaPortTest, ARawDeviceStandsBehindAPortNumberedAndNamedAsSndSeqMidiDoes) {
  // Card 3: raw device 0 a USB MIDI interface with two named subdevices, raw device 1 a device
  // with unnamed subdevices, raw device 2 one without names at all.
  const alsa::DescribeRawMidi card = [](alsa::RawMidiAddress a) {
    const std::vector<alsa::RawMidiDescription> devices = {
        {"USB Audio Device", "USB Audio Device MIDI " + std::to_string(a.subdevice + 1), 2},
        {"MPU-401 UART", "", 1},
        {"", "", 2}};
    return a.device < 3 ? std::optional(devices[a.device]) : std::nullopt;
  };
  auto behind = [&](int port, const std::string& name, bool hardware = true, int cardNumber = 3) {
    return alsa::RawMidiBehindPort(cardNumber, port, hardware, name, card);
  };
  // snd-seq-midi numbers ports device * 32 + subdevice.
  EXPECT_EQ(behind(0, "USB Audio Device MIDI 1"), (alsa::RawMidiAddress{3, 0, 0}));
  EXPECT_EQ(behind(1, "USB Audio Device MIDI 2"), (alsa::RawMidiAddress{3, 0, 1}));
  EXPECT_EQ(behind(32, "MPU-401 UART"), (alsa::RawMidiAddress{3, 1, 0}));
  EXPECT_EQ(behind(65, "MIDI 3-2-1"), (alsa::RawMidiAddress{3, 2, 1}));
  // A wavetable synth's port, or a UMP group's, at a number that a raw device also has.
  EXPECT_FALSE(behind(0, "OPL3 FM"));
  EXPECT_FALSE(behind(1, "Group 2 (USB Audio Device)"));
  EXPECT_FALSE(behind(2, "USB Audio Device MIDI 3"));            // no such subdevice
  EXPECT_FALSE(behind(96, "MIDI 3-3"));                          // no such device
  EXPECT_FALSE(behind(0, "USB Audio Device MIDI 1", true, -1));  // a program's port
  EXPECT_FALSE(behind(0, "USB Audio Device MIDI 1", false));     // VirMIDI's: not hardware
}

TEST(AlsaPortTest, BufferFillIsReadFromTheCardsProcText) {
  const std::string text =
      "USB Audio Device\n\nOutput 0\n  Tx bytes     : 9400\n  Owner PID    : 0\n"
      "  Mode         : native\n  Buffer size  : 4096\n  Avail        : 1000\n"
      "Output 1\n  Tx bytes     : 0\n"
      "Input 0\n  Rx bytes     : 12\n  Owner PID    : 77\n  Mode         : native\n"
      "  Buffer size  : 65536\n  Avail        : 300\n  Overruns     : 0\n"
      "Input 1\n  Rx bytes     : 12\n  Owner PID    : 78\n  Mode         : native\n"
      "  Buffer size  : 4096\n  Avail        : 50\n  Overruns     : 0\n";
  // An output's waiting bytes are those the driver has not taken; an input's those not read.
  EXPECT_EQ(alsa::ReadBufferFill(text, true, 0), (alsa::BufferFill{4096, 3096}));
  EXPECT_FALSE(alsa::ReadBufferFill(text, true, 1));  // not open
  EXPECT_EQ(alsa::ReadBufferFill(text, false, 1), (alsa::BufferFill{4096, 50}));
  EXPECT_EQ(alsa::ReadBufferFill(text, false, -1), (alsa::BufferFill{65536, 300}));
  EXPECT_FALSE(alsa::ReadBufferFill("", true, 0));
}

std::vector<std::string> Names(const StablePortList& list) {
  std::vector<std::string> names;
  for (size_t i = 0; i < list.size(); ++i) names.push_back(list.At(i)->name);
  return names;
}

TEST(StablePortListTest, KnownPortsKeepTheirOrderAndNewOnesComeLast) {
  StablePortList list;
  list.Update({{"b:1", "1"}, {"a:2", "2"}});
  EXPECT_EQ(Names(list), (std::vector<std::string>{"1", "2"}));
  // The system now reports them in another order, with a new port in front.
  list.Update({{"c:3", "3"}, {"a:2", "2"}, {"b:1", "1"}});
  EXPECT_EQ(Names(list), (std::vector<std::string>{"1", "2", "3"}));
  // A port that went away leaves; the others close up.
  list.Update({{"c:3", "3"}, {"a:2", "2"}});
  EXPECT_EQ(Names(list), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(list.At(1)->id, "c:3");
  EXPECT_EQ(list.At(2), nullptr);
  list.Update({});
  EXPECT_EQ(list.size(), 0u);
}

TEST(StablePortListTest, PortsWithTheSameNameAreToldApartByTheirIds) {
  StablePortList list;
  list.Update({{"one:MIDI", "MIDI"}, {"two:MIDI", "MIDI"}});
  list.Update({{"two:MIDI", "MIDI"}, {"one:MIDI", "MIDI"}});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.At(0)->id, "one:MIDI");
  EXPECT_EQ(list.At(1)->id, "two:MIDI");
}

TEST(FitPortNameTest, NamesAreCutTo31Characters) {
  EXPECT_EQ(FitPortName(""), "");
  EXPECT_EQ(FitPortName("Q9m MIDI 1"), "Q9m MIDI 1");
  const std::string exact(31, 'x');
  EXPECT_EQ(FitPortName(exact), exact);
  EXPECT_EQ(FitPortName("Q9m Guitar Effects Processor MIDI Port 1"),
            "Q9m Guitar Effects Processor MI");
  // USB オーディオ デバイス: 14 characters in 32 bytes, kept whole.
  const std::string japanese =
      "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
      "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";
  EXPECT_EQ(FitPortName(japanese), japanese);
  EXPECT_EQ(FitPortName(japanese + " (20)"), japanese + " (20)");
}

TEST(FitPortNameTest, LongMultiByteNamesEndAfterTheir31stCharacter) {
  const std::string katakana = "\xE3\x82\xAA";    // オ, 3 bytes
  const std::string guitar = "\xF0\x9F\x8E\xB8";  // a 4-byte character
  std::string katakanas, guitars;
  for (int i = 0; i < 31; ++i) katakanas += katakana;
  for (int i = 0; i < 31; ++i) guitars += guitar;
  EXPECT_EQ(FitPortName(katakanas + katakana + "b"), katakanas);
  EXPECT_EQ(FitPortName("a" + katakanas), std::string("a").append(katakanas, 0, 30 * 3));
  // 31 characters of the longest kind fill the record's name exactly.
  EXPECT_EQ(FitPortName(guitars + guitar), guitars);
  EXPECT_EQ(FitPortName(guitars).size(), MAXPNAMELEN - 1);
}

TEST(FitPortNameTest, BytesThatAreNotUtf8AreKeptAndCountOneEach) {
  // The lead byte of a sequence cut short stays as it is, and counts as one character.
  EXPECT_EQ(FitPortName(std::string(30, 'a') + "\xE3\x82" + "b"), std::string(30, 'a') + "\xE3");
  EXPECT_EQ(FitPortName(std::string(40, '\xFF')), std::string(31, '\xFF'));
  EXPECT_EQ(FitPortName("\x80\x80"
                        "abc"),
            "\x80\x80"
            "abc");
}

}  // namespace
}  // namespace q9m::platform
