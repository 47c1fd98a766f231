#include "platform/winmm/winmm_backend.h"

#include <algorithm>
#include <vector>

#include "platform/port_list.h"
#include "platform/winmm/winmm_input.h"
#include "platform/winmm/winmm_output.h"
#include "platform/winmm/winmm_port_names.h"
#include "platform/winmm/winmm_port_watch.h"

namespace q9m::platform {

namespace {

using winmm::WinmmPort;

class WinmmBackend final : public ListedPortBackend {
 public:
  explicit WinmmBackend(std::unique_ptr<winmm::Driver> driver) : driver_(std::move(driver)) {}
  std::unique_ptr<PortWatch> WatchPorts() override { return winmm::WatchWinmmPorts(driver_); }

 protected:
  std::vector<ListedPort> PresentOutputs() override { return Listed(Outputs()); }
  std::vector<ListedPort> PresentInputs() override { return Listed(Inputs()); }

  std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& port,
                                                   MMRESULT& error) override {
    const auto id = DeviceIdNow(Outputs(), port, error);
    if (!id) return nullptr;
    auto device = driver_->OpenOutput(*id, error);
    if (!device) return nullptr;
    return std::make_unique<winmm::WinmmOutput>(std::move(device));
  }

  std::unique_ptr<InputSource> OpenInputPort(const ListedPort& port, InputReceiver& receiver,
                                             MMRESULT& error) override {
    const auto id = DeviceIdNow(Inputs(), port, error);
    if (!id) return nullptr;
    auto input = std::make_unique<winmm::WinmmInput>(receiver);
    error = input->Open(*driver_, *id);
    if (error != MMSYSERR_NOERROR) return nullptr;
    return input;
  }

 private:
  std::vector<WinmmPort> Outputs() {
    std::vector<std::optional<winmm::PortCaps>> caps(driver_->OutputCount());
    for (uint32_t id = 0; id < caps.size(); ++id) caps[id] = driver_->OutputCaps(id);
    return winmm::NameWinmmPorts(caps);
  }

  std::vector<WinmmPort> Inputs() {
    std::vector<std::optional<winmm::PortCaps>> caps(driver_->InputCount());
    for (uint32_t id = 0; id < caps.size(); ++id) caps[id] = driver_->InputCaps(id);
    return winmm::NameWinmmPorts(caps);
  }

  static std::vector<ListedPort> Listed(const std::vector<WinmmPort>& ports) {
    std::vector<ListedPort> listed;
    for (const WinmmPort& port : ports) listed.push_back(port.listed);
    return listed;
  }

  // The device index that the listed port has now: indexes shift when devices come and go, so
  // the port is looked up by its id; nothing when it is no longer there.
  static std::optional<uint32_t> DeviceIdNow(const std::vector<WinmmPort>& ports,
                                             const ListedPort& port, MMRESULT& error) {
    const auto it = std::find_if(ports.begin(), ports.end(),
                                 [&](const WinmmPort& p) { return p.listed.id == port.id; });
    if (it == ports.end()) {
      error = MMSYSERR_BADDEVICEID;
      return std::nullopt;
    }
    return it->deviceId;
  }

  const std::shared_ptr<winmm::Driver> driver_;  // shared with the port watches
};

}  // namespace

std::shared_ptr<MidiBackend> MakeWinmmBackendOn(std::unique_ptr<winmm::Driver> driver) {
  return std::make_shared<WinmmBackend>(std::move(driver));
}

}  // namespace q9m::platform
