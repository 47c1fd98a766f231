// The port lists: filled from the MIDI service with item k for port k, the preferred port
// preselected, following the devices that come and go, and refilled by Rescan Device.
#include <gtest/gtest.h>
#include <iconv.h>

#include <QComboBox>
#include <QPushButton>

#include "tests/ui/dialog_harness.h"
#include "ui/port_preselection.h"

namespace q9m::testing {
namespace {

using D = ui::CK2pUpdatorDlg;

class PortListsTest : public DialogTest {
 protected:
  // Adds an input and an output port with each name, in order.
  void AddPorts(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      AddRecordedOutput(name);
      service_->AddInput(name);
    }
  }
  int OutSelection() { return List(D::kIdMidiOut)->currentIndex(); }
  int InSelection() { return List(D::kIdMidiIn)->currentIndex(); }
  QStringList Items(int id) {
    QStringList items;
    for (int i = 0; i < List(id)->count(); ++i) items << List(id)->itemText(i);
    return items;
  }
};

std::string FromShiftJis(const std::vector<unsigned char>& bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "SHIFT_JIS");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::vector<char> in(bytes.begin(), bytes.end());
  std::string out(bytes.size() * 3, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (converted == static_cast<size_t>(-1) || inLeft != 0) return "<conversion failed>";
  out.resize(out.size() - outLeft);
  return out;
}

TEST_F(PortListsTest, ListsHoldEveryPortInServiceOrder) {
  AddRecordedOutput("Out A");
  AddRecordedOutput("Out B");
  service_->AddInput("In A");
  service_->AddInput("In B");
  service_->AddInput("In C");
  Open();
  EXPECT_EQ(Items(D::kIdMidiOut), (QStringList{"Out A", "Out B"}));
  EXPECT_EQ(Items(D::kIdMidiIn), (QStringList{"In A", "In B", "In C"}));
  EXPECT_EQ(OutSelection(), -1);
  EXPECT_EQ(InSelection(), -1);
}

TEST_F(PortListsTest, LastMatchingPortWins) {
  AddPorts({"Other", "USB Audio Device", "VELA T Series", "Another"});
  Open();
  EXPECT_EQ(OutSelection(), 2);
  EXPECT_EQ(InSelection(), 2);
}

TEST_F(PortListsTest, TwoPortsWithTheSameNameSelectTheHigherIndex) {
  AddPorts({"VELA T Series", "VELA T Series"});
  Open();
  EXPECT_EQ(OutSelection(), 1);
  EXPECT_EQ(InSelection(), 1);
}

TEST_F(PortListsTest, CaseAndTrailingBlanksNeverMatch) {
  AddPorts({"usb audio device", "USB Audio Device ", "VELA T SERIES", " VELA T Series"});
  Open();
  EXPECT_EQ(OutSelection(), -1);
  EXPECT_EQ(InSelection(), -1);
}

TEST_F(PortListsTest, EachListIsPreselectedOnItsOwn) {
  AddRecordedOutput("Synth");
  AddRecordedOutput("USB Audio Device");
  service_->AddInput("VELA T Series");
  service_->AddInput("Synth");
  Open();
  EXPECT_EQ(OutSelection(), 1);
  EXPECT_EQ(InSelection(), 0);
}

TEST_F(PortListsTest, SecondInstancePicksTheNumberedNameOnly) {
  AddPorts({"USB Audio Device (2)", "USB Audio Device", "VELA T Series (3)"});
  Open(2);
  EXPECT_EQ(OutSelection(), 0);
  EXPECT_EQ(InSelection(), 0);
  Open(1);
  EXPECT_EQ(OutSelection(), 1);
  EXPECT_EQ(InSelection(), 1);
}

TEST(PreferredPortNamesTest, JapaneseNameIsTheShiftJisNameInUtf8) {
  const std::vector<unsigned char> shiftJis = {0x55, 0x53, 0x42, 0x20, 0x83, 0x49, 0x81, 0x5B,
                                               0x83, 0x66, 0x83, 0x42, 0x83, 0x49, 0x20, 0x83,
                                               0x66, 0x83, 0x6F, 0x83, 0x43, 0x83, 0x58};
  EXPECT_EQ(FromShiftJis(shiftJis), ui::PreferredPortNames[0]);
  EXPECT_EQ(QString::fromUtf8(ui::PreferredPortNames[0]),
            QString::fromUtf16(u"USB \u30AA\u30FC\u30C7\u30A3\u30AA \u30C7\u30D0\u30A4\u30B9"));
}

TEST_F(PortListsTest, JapaneseNamedPortIsPreselected) {
  // 14 characters, 32 bytes in UTF-8: listed whole, and matched.
  const std::string japanese = ui::PreferredPortNames[0];
  AddPorts({japanese, "Other"});
  Open();
  EXPECT_EQ(Items(D::kIdMidiOut), (QStringList{QString::fromStdString(japanese), "Other"}));
  EXPECT_EQ(Items(D::kIdMidiIn), (QStringList{QString::fromStdString(japanese), "Other"}));
  EXPECT_EQ(OutSelection(), 0);
  EXPECT_EQ(InSelection(), 0);
}

TEST_F(PortListsTest, JapaneseNameWithTheInstanceNumberIsPreselectedInThatInstance) {
  // 19 characters in 37 bytes; the bare name and another instance's number do not match.
  const std::string japanese = ui::PreferredPortNames[0];
  AddPorts({japanese + " (20)", japanese, japanese + " (2)", japanese + " (20) "});
  Open(20);
  EXPECT_EQ(OutSelection(), 0);
  EXPECT_EQ(InSelection(), 0);
  Open(2);
  EXPECT_EQ(OutSelection(), 2);
  EXPECT_EQ(InSelection(), 2);
}

TEST_F(PortListsTest, NoPortsGiveEmptyListsWithoutSelection) {
  Open();
  EXPECT_EQ(List(D::kIdMidiOut)->count(), 0);
  EXPECT_EQ(List(D::kIdMidiIn)->count(), 0);
  EXPECT_EQ(OutSelection(), -1);
  EXPECT_EQ(InSelection(), -1);
}

// Without Rescan Device: a list without a selection preselects as at start, a selection stays
// on its port while that is listed.
TEST_F(PortListsTest, ListsFollowDevicesThatComeAndGoAndKeepTheChoice) {
  uint32_t synthOut = 0;
  AddRecordedOutput("Synth", &synthOut);
  service_->AddInput("Synth");
  Open();
  ASSERT_EQ(OutSelection(), -1);
  const auto listed = [&](int count) {
    return WaitUntil([&] { return List(D::kIdMidiIn)->count() == count; }, 5'000);
  };

  AddPorts({"USB Audio Device"});
  ASSERT_TRUE(listed(2));
  EXPECT_EQ(Items(D::kIdMidiOut), (QStringList{"Synth", "USB Audio Device"}));
  EXPECT_EQ(OutSelection(), 1);
  EXPECT_EQ(InSelection(), 1);

  List(D::kIdMidiOut)->setCurrentIndex(0);
  AddPorts({"VELA T Series"});  // preselected at start, were it there then
  ASSERT_TRUE(listed(3));
  EXPECT_EQ(Items(D::kIdMidiOut), (QStringList{"Synth", "USB Audio Device", "VELA T Series"}));
  EXPECT_EQ(OutSelection(), 0);
  EXPECT_EQ(InSelection(), 1);

  service_->UnplugOutput(synthOut);
  ASSERT_TRUE(WaitUntil([&] { return List(D::kIdMidiOut)->count() == 2; }, 5'000));
  EXPECT_EQ(Items(D::kIdMidiOut), (QStringList{"USB Audio Device", "VELA T Series"}));
  EXPECT_EQ(OutSelection(), 1);
  EXPECT_EQ(InSelection(), 1);
}

TEST_F(PortListsTest, RescanRefillsAfterUnplugAndKeepsExecuteEnabled) {
  uint32_t usbOut = 0, velaOut = 0;
  AddRecordedOutput("USB Audio Device", &usbOut);
  AddRecordedOutput("VELA T Series", &velaOut);
  const uint32_t usbIn = service_->AddInput("USB Audio Device");
  const uint32_t velaIn = service_->AddInput("VELA T Series");
  Open();
  ASSERT_EQ(OutSelection(), 1);

  // The user picked another port; the unplug and the rescan put the preselection back.
  List(D::kIdMidiOut)->setCurrentIndex(0);
  service_->UnplugOutput(velaOut);
  service_->UnplugInput(velaIn);
  Button(D::kIdRescan)->click();
  EXPECT_EQ(Items(D::kIdMidiOut), QStringList{"USB Audio Device"});
  EXPECT_EQ(Items(D::kIdMidiIn), QStringList{"USB Audio Device"});
  EXPECT_EQ(OutSelection(), 0);
  EXPECT_EQ(InSelection(), 0);
  EXPECT_TRUE(Button(D::kIdExecute)->isEnabled());

  service_->UnplugOutput(usbOut);
  service_->UnplugInput(usbIn);
  AddPorts({"Synth"});
  Button(D::kIdRescan)->click();
  EXPECT_EQ(Items(D::kIdMidiOut), QStringList{"Synth"});
  EXPECT_EQ(OutSelection(), -1);
  EXPECT_EQ(InSelection(), -1);
  EXPECT_TRUE(Button(D::kIdExecute)->isEnabled());
}

}  // namespace
}  // namespace q9m::testing
