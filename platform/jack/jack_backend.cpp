#include "platform/jack/jack_backend.h"

#include <jack/jack.h>

#include <vector>

#include "platform/jack/jack_client.h"
#include "platform/jack/jack_input.h"
#include "platform/jack/jack_output.h"
#include "platform/jack/jack_port_names.h"
#include "platform/jack/jack_port_watch.h"
#include "platform/port_list.h"
#include "platform/port_naming.h"

namespace q9m::platform {

namespace {

using jack::JackClient;

class JackBackend final : public ListedPortBackend {
 public:
  explicit JackBackend(std::shared_ptr<JackClient> client) : client_(std::move(client)) {}
  std::unique_ptr<PortWatch> WatchPorts() override { return jack::WatchJackPorts(client_); }

 protected:
  std::vector<ListedPort> PresentOutputs() override { return Ports(JackPortIsInput); }
  std::vector<ListedPort> PresentInputs() override { return Ports(JackPortIsOutput); }

  std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& port,
                                                   MMRESULT& error) override {
    return OpenedOrNull(std::make_unique<jack::JackOutputConnection>(client_, port.id), error);
  }

  std::unique_ptr<InputSource> OpenInputPort(const ListedPort& port, InputReceiver& receiver,
                                             MMRESULT& error) override {
    return OpenedOrNull(std::make_unique<jack::JackInputSource>(client_, port.id, receiver), error);
  }

 private:
  std::vector<ListedPort> Ports(unsigned long flags) {
    std::vector<jack::JackPortNames> ports;
    for (const std::string& full : client_->MidiPorts(flags)) {
      if (IsProgramClient(jack::JackClientOf(full), client_->Name())) continue;
      ports.push_back({full, client_->Aliases(full)});
    }
    return NameDevicePorts(jack::DescribeJackPorts(std::move(ports)));
  }

  std::shared_ptr<JackClient> client_;
};

}  // namespace

std::shared_ptr<MidiBackend> MakeJackBackend(const std::string& clientName, std::string* why) {
  std::shared_ptr<JackClient> client = JackClient::Open(clientName, why);
  if (!client) return nullptr;
  if (client->MaxMessageBytes() == 0) {
    *why = "the JACK server's MIDI buffers are too small";
    return nullptr;
  }
  return std::make_shared<JackBackend>(std::move(client));
}

}  // namespace q9m::platform
