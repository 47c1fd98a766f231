// A dialog with a device behind its ports: the simulated Q9m, or a scripted device whose every
// answer the test decides.
#pragma once

#include <memory>
#include <optional>

#include "devsim/virtual_device.h"
#include "tests/ui/dialog_harness.h"
#include "tests/update/scripted_device.h"

namespace q9m::testing {

class RunTest : public DialogTest {
 protected:
  void TearDown() override;

  // A device that acknowledges everything except what `change` decides: a reply, or an empty
  // Bytes for no reply at all; nullopt leaves the willing answer.
  using Change = std::function<std::optional<Bytes>(Sent kind, int index)>;
  static ScriptedDevice::Rule WillingExcept(Change change);
  static ScriptedDevice::Rule Silent();

  // Adds a scripted device, opens the dialog and selects the device's ports.
  ui::CK2pUpdatorDlg& OpenWith(ScriptedDevice::Rule rule);
  // Adds the simulated device as "USB Audio Device" and opens the dialog, which preselects it.
  ui::CK2pUpdatorDlg& OpenSimulated(devsim::DeviceOptions options = {});

  // Presses Execute and checks that the run started.
  void Execute();
  // Waits for the end of the press that executeEnded reports.
  bool WaitForEnd(int timeoutMs = 300'000);

  std::unique_ptr<ScriptedDevice> scripted_;
  std::unique_ptr<devsim::VirtualDevice> simulated_;

  // What executeEnded reported: how often, and the last outcome.
  int ends_ = 0;
  bool completed_ = false;
  QString outcome_;

 private:
  void RecordEnds();
};

}  // namespace q9m::testing
