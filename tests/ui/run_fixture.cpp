#include "tests/ui/run_fixture.h"

#include <QComboBox>
#include <QPushButton>

#include "platform/sync.h"

namespace q9m::testing {

namespace {
const Bytes kOldVersion = {'1', '.', '0', '0'};
}

void RunTest::TearDown() {
  dialog_.reset();  // ends the worker before the devices go
  scripted_.reset();
  simulated_.reset();
  platform::SetClockScale(1);
  DialogTest::TearDown();
}

ScriptedDevice::Rule RunTest::WillingExcept(Change change) {
  return [change](const Bytes&, Sent kind, int index) -> std::optional<Bytes> {
    if (auto special = change(kind, index)) {
      if (special->empty()) return std::nullopt;
      return special;
    }
    return ScriptedDevice::Willing(kind, kOldVersion);
  };
}

ScriptedDevice::Rule RunTest::Silent() {
  return [](const Bytes&, Sent, int) -> std::optional<Bytes> { return std::nullopt; };
}

ui::CK2pUpdatorDlg& RunTest::OpenWith(ScriptedDevice::Rule rule) {
  scripted_ = std::make_unique<ScriptedDevice>(*service_, std::move(rule));
  auto& dialog = Open();
  // "Scripted Q9m" is no preferred name: the user picks the ports.
  List(ui::CK2pUpdatorDlg::kIdMidiOut)->setCurrentIndex(0);
  List(ui::CK2pUpdatorDlg::kIdMidiIn)->setCurrentIndex(0);
  RecordEnds();
  return dialog;
}

ui::CK2pUpdatorDlg& RunTest::OpenSimulated(devsim::DeviceOptions options) {
  simulated_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device", options);
  auto& dialog = Open();
  RecordEnds();
  return dialog;
}

void RunTest::RecordEnds() {
  QObject::connect(dialog_.get(), &ui::CK2pUpdatorDlg::executeEnded, dialog_.get(),
                   [this](bool completed, const QString& outcome) {
                     ++ends_;
                     completed_ = completed;
                     outcome_ = outcome;
                   });
}

bool RunTest::WaitForEnd(int timeoutMs) {
  const int before = ends_;
  return WaitUntil([&] { return ends_ > before; }, timeoutMs);
}

void RunTest::Execute() {
  Button(ui::CK2pUpdatorDlg::kIdExecute)->click();
  ASSERT_TRUE(dialog_->Session().Busy());
  EXPECT_EQ(Enabled(), kRunning);
}

}  // namespace q9m::testing
