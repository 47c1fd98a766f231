// Port names: the decorations that JACK and ALSA put around a device's own name, which ports
// count as the program's own, the order of a port list, and the cut to a capability record.
#include <gtest/gtest.h>

#include "platform/alsa/alsa_port_names.h"
#include "platform/jack/jack_port_names.h"
#include "platform/midi_service.h"
#include "platform/port_list.h"

namespace q9m::platform {
namespace {

using alsa::CleanAlsaPortName;
using alsa::IsOwnAlsaPort;
using jack::CleanJackPortName;
using jack::IsOwnJackClient;
using jack::JackClientOf;

TEST(JackPortNameTest, TheClientPrefixIsRemovedUpToTheFirstColon) {
  EXPECT_EQ(CleanJackPortName("Q9m:Q9m MIDI 1"), "Q9m MIDI 1");
  EXPECT_EQ(JackClientOf("Q9m:Q9m MIDI 1"), "Q9m");
  // Port names may hold colons of their own (a2jmidid's do); only the first one separates.
  EXPECT_EQ(CleanJackPortName("a2j:Q9m [24] (capture): Q9m MIDI 1"),
            "Q9m [24] (capture): Q9m MIDI 1");
  EXPECT_EQ(JackClientOf("a2j:Q9m [24] (capture): Q9m MIDI 1"), "a2j");
  EXPECT_EQ(CleanJackPortName("no client"), "no client");
  EXPECT_EQ(JackClientOf("no client"), "");
}

TEST(AlsaPortNameTest, OnlyATrailingNumericClientAndPortIdIsRemoved) {
  EXPECT_EQ(CleanAlsaPortName("Q9m:Q9m MIDI 1 24:0"), "Q9m:Q9m MIDI 1");
  EXPECT_EQ(CleanAlsaPortName("Midi Through:Midi Through Port-0 14:0"),
            "Midi Through:Midi Through Port-0");
  EXPECT_EQ(CleanAlsaPortName("Q9m:Port 128:15"), "Q9m:Port");
  // Names that do not end in "C:P" with digits on both sides are left alone.
  EXPECT_EQ(CleanAlsaPortName("Q9m:Q9m MIDI 1"), "Q9m:Q9m MIDI 1");
  EXPECT_EQ(CleanAlsaPortName("Q9m:Out 2:"), "Q9m:Out 2:");
  EXPECT_EQ(CleanAlsaPortName("Q9m:Out :5"), "Q9m:Out :5");
  EXPECT_EQ(CleanAlsaPortName("Q9m:Out A:5"), "Q9m:Out A:5");
  EXPECT_EQ(CleanAlsaPortName("Q9m:Out 1:5x"), "Q9m:Out 1:5x");
}

TEST(OwnPortTest, OwnJackClientsAreTheNameAndTheServersNumberedCopies) {
  EXPECT_TRUE(IsOwnJackClient("q9m-updater", "q9m-updater"));
  EXPECT_TRUE(IsOwnJackClient("q9m-updater-01", "q9m-updater"));
  EXPECT_TRUE(IsOwnJackClient("q9m-updater-12", "q9m-updater"));
  EXPECT_FALSE(IsOwnJackClient("q9m-updater-", "q9m-updater"));
  EXPECT_FALSE(IsOwnJackClient("q9m-updater-peer", "q9m-updater"));
  EXPECT_FALSE(IsOwnJackClient("q9m-updater2", "q9m-updater"));
  EXPECT_FALSE(IsOwnJackClient("q9m", "q9m-updater"));
  EXPECT_FALSE(IsOwnJackClient("Q9m", "q9m-updater"));
}

TEST(OwnPortTest, OwnAlsaPortsStartWithTheClientNameAndAColon) {
  EXPECT_TRUE(IsOwnAlsaPort("Q9m Updater:in 129:0", "Q9m Updater"));
  EXPECT_FALSE(IsOwnAlsaPort("Q9m Updater 2:in 130:0", "Q9m Updater"));
  EXPECT_FALSE(IsOwnAlsaPort("Q9m:Q9m MIDI 1 24:0", "Q9m Updater"));
  EXPECT_FALSE(IsOwnAlsaPort("Q9m Updater", "Q9m Updater"));
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
