#include "platform/jack/jack_backend.h"

#include <jack/jack.h>

#include <vector>

#include "platform/jack/jack_core.h"
#include "platform/jack/jack_input.h"
#include "platform/jack/jack_output.h"
#include "platform/jack/jack_port_names.h"
#include "platform/port_list.h"
#include "platform/port_naming.h"

namespace q9m::platform {

namespace {

using jack::JackCore;

class JackBackend final : public ListedPortBackend {
 public:
  explicit JackBackend(std::shared_ptr<JackCore> core) : core_(std::move(core)) {}

 protected:
  std::vector<ListedPort> PresentOutputs() override { return Ports(JackPortIsInput); }
  std::vector<ListedPort> PresentInputs() override { return Ports(JackPortIsOutput); }

  std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& port,
                                                   MMRESULT& error) override {
    return OpenedOrNull(std::make_unique<jack::JackOutputConnection>(core_, port.id), error);
  }

  std::unique_ptr<InputSource> OpenInputPort(const ListedPort& port, InputReceiver& receiver,
                                             MMRESULT& error) override {
    return OpenedOrNull(std::make_unique<jack::JackInputSource>(core_, port.id, receiver), error);
  }

 private:
  std::vector<ListedPort> Ports(unsigned long flags) {
    std::vector<DevicePort> ports;
    for (const std::string& full : core_->monitor->MidiPorts(flags)) {
      if (core_->IsOwnClient(jack::JackClientOf(full))) continue;
      ports.push_back(jack::DescribeJackPort(full));
    }
    return NameDevicePorts(ports);
  }

  std::shared_ptr<JackCore> core_;
};

}  // namespace

std::shared_ptr<MidiBackend> MakeJackBackend(const std::string& clientName, std::string* why) {
  if (!RtMidiCompiled(RtMidi::UNIX_JACK)) {
    *why = "librtmidi was built without JACK";
    return nullptr;
  }
  auto core = std::make_shared<JackCore>();
  core->clientName = clientName;
  core->monitor = jack::JackMonitor::Open(clientName, why);
  if (!core->monitor) return nullptr;
  if (core->MaxMessageBytes() == 0) {
    *why = "the JACK server's MIDI buffers are too small";
    return nullptr;
  }
  return std::make_shared<JackBackend>(std::move(core));
}

}  // namespace q9m::platform
