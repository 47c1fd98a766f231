// The dialog through whole presses of Execute: a completed update against the simulated
// device, failed runs with their error box, refused starts, and the busy refusal.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "firmware/image_origin.h"
#include "platform/sync.h"
#include "tests/ui/run_fixture.h"

namespace q9m::testing {
namespace {

using D = ui::CK2pUpdatorDlg;

class UpdateRunTest : public RunTest {};

TEST_F(UpdateRunTest, CompleteUpdateAgainstTheSimulatedDeviceEndsInTheCompletedState) {
  auto& dialog = OpenSimulated();
  ASSERT_EQ(List(D::kIdMidiOut)->currentIndex(), 0);
  ASSERT_EQ(List(D::kIdMidiIn)->currentIndex(), 0);
  QStringList steps;
  QObject::connect(Field(D::kIdStep), &QLineEdit::textChanged,
                   [&](const QString& text) { steps << text; });
  ModalWatcher watcher;

  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(completed_);
  EXPECT_EQ(outcome_, QStringLiteral("Version update completed."));
  EXPECT_TRUE(watcher.Seen().empty());

  ASSERT_EQ(steps.size(), 13);
  EXPECT_EQ(steps.front(), QStringLiteral("0/12"));
  EXPECT_EQ(steps.back(), QStringLiteral("12/12"));
  EXPECT_EQ(Field(D::kIdStep)->text(), QStringLiteral("12/12"));
  EXPECT_EQ(Field(D::kIdActivity)->text(), QStringLiteral("Version update completed."));
  EXPECT_EQ(Progress()->maximum(), 4096);  // the last row writes one block
  EXPECT_EQ(Progress()->value(), Progress()->maximum());
  EXPECT_EQ(Enabled(), kCompleted);
  EXPECT_FALSE(dialog.Session().Busy());

  ASSERT_TRUE(simulated_->Device().WaitIdle(10'000));
  const auto report = simulated_->Report();
  EXPECT_TRUE(report.Passed());
  EXPECT_TRUE(report.flashMatchesLayout) << report.mismatchRange;
  for (const auto& violation : report.violations) ADD_FAILURE() << violation;

  // Enter finds Execute disabled; Rescan Device gives it back.
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog,
                  Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(watcher.Seen().empty());
  EXPECT_EQ(ends_, 1);
  Button(D::kIdRescan)->click();
  EXPECT_EQ(Enabled(), kAllEnabled);
  EXPECT_EQ(Field(D::kIdActivity)->text(), QStringLiteral("Version update completed."));
}

// "Verify after writing" checked: the read-back shows "Verifying" with its own range, repairs
// nothing on a good device, and a device that stores a block wrong twice gets an error box
// that names the address.
TEST_F(UpdateRunTest, VerifyAfterWritingReadsBackAndNamesTheAddressThatStaysWrong) {
  devsim::DeviceOptions options;
  options.blockFaults.push_back({.address = 0x28000, .corrupt = 2});
  auto& dialog = OpenSimulated(options);
  dialog.VerifyEntry()->setChecked(true);
  QStringList activities;
  QObject::connect(Field(D::kIdActivity), &QLineEdit::textChanged,
                   [&](const QString& text) { activities << text; });
  ModalWatcher watcher;

  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_FALSE(completed_);
  EXPECT_TRUE(activities.contains(QStringLiteral("Verifying")));
  ASSERT_EQ(watcher.Texts().size(), 1u);
  EXPECT_TRUE(watcher.Texts()[0].startsWith(QStringLiteral("Transfer error occurred.\n\n")));
  EXPECT_TRUE(watcher.Texts()[0].contains(QStringLiteral("0x028800")))
      << watcher.Texts()[0].toStdString();
  EXPECT_EQ(Enabled(), kAllEnabled);
  EXPECT_FALSE(simulated_->Report().endReceived);
}

TEST_F(UpdateRunTest, FailedRunShowsTheErrorBoxThenRestoresTheControls) {
  auto& dialog = OpenWith([](const Bytes&, Sent kind, int) -> std::optional<Bytes> {
    if (kind == Sent::IdentityRequest) return ScriptedDevice::Identity(0x4C);
    return std::nullopt;
  });
  std::vector<bool> whileShown;
  bool busyWhileShown = false;
  ModalWatcher watcher([&](QDialog& box) {
    whileShown = Enabled();
    busyWhileShown = dialog.Session().Busy();
    ModalWatcher::PressOk(box);
  });

  Execute();
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(watcher.Seen().size(), 1u);
  const SeenModal& box = watcher.Seen()[0];
  EXPECT_EQ(box.className, QStringLiteral("QMessageBox"));
  EXPECT_EQ(box.title, QStringLiteral("Error"));
  EXPECT_EQ(box.text, QStringLiteral("Illegal device connected."));
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(box.parent, &dialog);
  EXPECT_NE(box.modality, Qt::NonModal);
  // The worker waited for the box: the controls came back only after it was dismissed.
  EXPECT_EQ(whileShown, kRunning);
  EXPECT_TRUE(busyWhileShown);

  EXPECT_FALSE(completed_);
  EXPECT_EQ(outcome_, QStringLiteral("Illegal device connected."));
  EXPECT_EQ(Enabled(), kAllEnabled);
  EXPECT_FALSE(dialog.Session().Busy());
  EXPECT_EQ(Field(D::kIdStep)->text(), QStringLiteral("0/12"));

  // Ready again: a second press runs again, to the same end.
  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(scripted_->Count(Sent::IdentityRequest), 2);
  EXPECT_EQ(watcher.Texts(),
            (std::vector<QString>{"Illegal device connected.", "Illegal device connected."}));
  EXPECT_EQ(Enabled(), kAllEnabled);
}

// A device plugged in while the update runs changes nothing until the controls are back;
// then the lists follow, the chosen ports staying chosen.
TEST_F(UpdateRunTest, PortListsStandStillDuringAnUpdateAndFollowAfterIt) {
  OpenWith([](const Bytes&, Sent kind, int) -> std::optional<Bytes> {
    if (kind == Sent::IdentityRequest) return ScriptedDevice::Identity(0x4C);
    return std::nullopt;
  });
  const auto items = [&](int id) {
    QStringList texts;
    for (int i = 0; i < List(id)->count(); ++i) texts << List(id)->itemText(i);
    return texts;
  };
  const QStringList before = items(D::kIdMidiIn);
  QStringList whileShown;
  ModalWatcher watcher([&](QDialog& box) {
    // The worker holds its error box: still updating.
    AddRecordedOutput("VELA T Series");
    service_->AddInput("VELA T Series");
    Spin(300);
    whileShown = items(D::kIdMidiIn);
    ModalWatcher::PressOk(box);
  });
  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(whileShown, before);
  EXPECT_EQ(items(D::kIdMidiIn), before + QStringList{"VELA T Series"});
  EXPECT_EQ(items(D::kIdMidiOut).size(), 2);
  EXPECT_EQ(List(D::kIdMidiOut)->currentIndex(), 0);
  EXPECT_EQ(List(D::kIdMidiIn)->currentIndex(), 0);
}

TEST_F(UpdateRunTest, FailedWriteKeepsTheStepAndActivityItShowed) {
  platform::SetClockScale(100);  // 32 write time-outs of 1 s each
  OpenWith(WillingExcept([](Sent kind, int) -> std::optional<Bytes> {
    if (kind == Sent::Write) return Bytes{};
    return std::nullopt;
  }));
  ModalWatcher watcher;
  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"Time out error(2)"});
  EXPECT_EQ(scripted_->Count(Sent::Write), 32);
  EXPECT_EQ(Field(D::kIdStep)->text(), QStringLiteral("3/12"));
  EXPECT_TRUE(Field(D::kIdActivity)->text().startsWith(QStringLiteral("Data transmit  0 / ")));
  EXPECT_EQ(Enabled(), kAllEnabled);
}

TEST_F(UpdateRunTest, ExecuteWithoutPortsIsRefusedAndChangesNothing) {
  auto& dialog = Open();
  QObject::connect(&dialog, &D::executeEnded, [&](bool completed, const QString& outcome) {
    ++ends_;
    completed_ = completed;
    outcome_ = outcome;
  });
  ModalWatcher watcher;
  QTest::keyClick(&dialog, Qt::Key_Return);  // Enter presses the default button
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"Can't open MIDI Out device."});
  ASSERT_EQ(watcher.Seen().size(), 1u);
  EXPECT_EQ(watcher.Seen()[0].title, QStringLiteral("Error"));
  EXPECT_EQ(watcher.Seen()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(ends_, 1);
  EXPECT_FALSE(completed_);
  EXPECT_EQ(Enabled(), kAllEnabled);
  EXPECT_FALSE(dialog.Session().Busy());
  EXPECT_TRUE(Field(D::kIdStep)->text().isEmpty());
}

TEST_F(UpdateRunTest, ExecuteWithoutAnInputSelectionIsRefused) {
  AddRecordedOutput("USB Audio Device");
  service_->AddInput("Synth");
  auto& dialog = Open();
  ASSERT_EQ(List(D::kIdMidiOut)->currentIndex(), 0);
  ASSERT_EQ(List(D::kIdMidiIn)->currentIndex(), -1);
  ModalWatcher watcher;
  Button(D::kIdExecute)->click();
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"Can't open MIDI In device."});
  EXPECT_EQ(Enabled(), kAllEnabled);
  EXPECT_FALSE(dialog.Session().Busy());

  // An output that is listed but not selected cannot be opened either.
  List(D::kIdMidiOut)->setCurrentIndex(-1);
  List(D::kIdMidiIn)->setCurrentIndex(0);
  Button(D::kIdExecute)->click();
  EXPECT_EQ(watcher.Texts(),
            (std::vector<QString>{"Can't open MIDI In device.", "Can't open MIDI Out device."}));
  EXPECT_EQ(Enabled(), kAllEnabled);
}

// A build with stand-in images touches no port unless Q9M_ALLOW_STAND_IN_IMAGES is exactly 1.
TEST_F(UpdateRunTest, StandInBuildRefusesToStartUnlessAllowed) {
  if (!firmware::CarriesStandInImages()) GTEST_SKIP() << "this build carries the real images";
  auto& dialog =
      OpenWith(WillingExcept([](Sent, int) -> std::optional<Bytes> { return std::nullopt; }));
  ModalWatcher watcher;
  const QString refusal = QString::fromStdString(firmware::StandInRefusalText());
  for (const char* value : {static_cast<const char*>(nullptr), "0", "yes", "1 "}) {
    if (value == nullptr) {
      unsetenv(firmware::kAllowStandInImagesVariable);
    } else {
      setenv(firmware::kAllowStandInImagesVariable, value, 1);
    }
    Button(D::kIdExecute)->click();
    EXPECT_EQ(watcher.Texts().back(), refusal) << (value ? value : "unset");
    EXPECT_EQ(outcome_, refusal);
    EXPECT_EQ(Enabled(), kAllEnabled);
    EXPECT_FALSE(dialog.Session().Busy());
  }
  EXPECT_EQ(watcher.Seen().size(), 4u);
  EXPECT_TRUE(refusal.contains(QStringLiteral("stand-in")));
  Spin(50);
  EXPECT_EQ(scripted_->Count(Sent::IdentityRequest), 0);

  setenv(firmware::kAllowStandInImagesVariable, "1", 1);
  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(completed_);
}

// A system without a thread to spare: the press ends like a failure to start, and the next
// press runs.
TEST_F(UpdateRunTest, WorkerThreadThatCannotStartIsReportedAndTheControlsStay) {
  auto& dialog =
      OpenWith(WillingExcept([](Sent, int) -> std::optional<Bytes> { return std::nullopt; }));
  dialog.Session().SetThreadStarter([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  ModalWatcher watcher;
  Button(D::kIdExecute)->click();
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"Transfer error occurred."});
  EXPECT_EQ(outcome_, QStringLiteral("Transfer error occurred."));
  EXPECT_EQ(Enabled(), kAllEnabled);
  EXPECT_FALSE(dialog.Session().Busy());
  Spin(50);
  EXPECT_EQ(scripted_->Count(Sent::IdentityRequest), 0);

  dialog.Session().SetThreadStarter([](std::function<void()> run) { return std::thread(run); });
  Execute();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(completed_);
}

TEST_F(UpdateRunTest, ExecuteWhileRunningIsRefusedAsInProgress) {
  auto& dialog = OpenWith(Silent());
  Execute();
  ASSERT_TRUE(WaitUntil([&] { return scripted_->Count(Sent::IdentityRequest) == 1; }));
  ModalWatcher watcher;
  // The focus left the disabled Execute for Exit; Enter there leaves the run alone.
  ASSERT_EQ(QApplication::focusWidget(), Button(D::kIdExit));
  QTest::keyClick(Button(D::kIdExit), Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(watcher.Seen().empty());

  dialog.OnBnClickedExecute();
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"In Progress."});
  EXPECT_EQ(Enabled(), kRunning);
  EXPECT_TRUE(dialog.Session().Busy());
  EXPECT_EQ(ends_, 0);
  Spin(50);
  EXPECT_EQ(scripted_->Count(Sent::IdentityRequest), 1);
}

}  // namespace
}  // namespace q9m::testing
