#include "platform/alsa/alsa_backend.h"

#include <unistd.h>

#include <vector>

#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_output.h"
#include "platform/alsa/alsa_port_names.h"
#include "platform/alsa/alsa_rtmidi.h"
#include "platform/port_list.h"

namespace q9m::platform {

namespace {

class AlsaBackend final : public ListedPortBackend {
 public:
  AlsaBackend(std::string clientName, std::unique_ptr<RtMidiOut> outputs,
              std::unique_ptr<RtMidiIn> inputs)
      : clientName_(std::move(clientName)),
        outputLister_(std::move(outputs)),
        inputLister_(std::move(inputs)) {}

 protected:
  std::vector<ListedPort> PresentOutputs() override { return Ports(*outputLister_); }
  std::vector<ListedPort> PresentInputs() override { return Ports(*inputLister_); }

  std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& port,
                                                   MMRESULT& error) override {
    return OpenedOrNull(std::make_unique<alsa::AlsaOutputConnection>(clientName_, port.id), error);
  }

  std::unique_ptr<InputSource> OpenInputPort(const ListedPort& port, InputReceiver& receiver,
                                             MMRESULT& error) override {
    return OpenedOrNull(std::make_unique<alsa::AlsaInputSource>(clientName_, port.id, receiver),
                        error);
  }

 private:
  std::vector<ListedPort> Ports(RtMidi& lister) {
    std::vector<ListedPort> ports;
    try {
      const unsigned int count = lister.getPortCount();
      for (unsigned int i = 0; i < count; ++i) {
        const std::string id = lister.getPortName(i);
        if (id.empty() || alsa::IsOwnAlsaPort(id, clientName_)) continue;
        ports.push_back({id, alsa::CleanAlsaPortName(id)});
      }
    } catch (const RtMidiError&) {
      ports.clear();
    }
    return ports;
  }

  const std::string clientName_;
  // Clients without ports that list the sequencer's ports.
  std::unique_ptr<RtMidiOut> outputLister_;
  std::unique_ptr<RtMidiIn> inputLister_;
};

}  // namespace

std::shared_ptr<MidiBackend> MakeAlsaBackend(const std::string& clientName, std::string* why) {
  if (!RtMidiCompiled(RtMidi::LINUX_ALSA)) {
    *why = "librtmidi was built without ALSA";
    return nullptr;
  }
  // Without the device file, opening the sequencer would only fail after a printed complaint.
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    *why = "/dev/snd/seq cannot be opened";
    return nullptr;
  }
  try {
    auto outputs = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
    auto inputs =
        std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName, alsa::kInputQueueLimit);
    if (outputs->getCurrentApi() != RtMidi::LINUX_ALSA ||
        inputs->getCurrentApi() != RtMidi::LINUX_ALSA) {
      *why = "librtmidi did not open the ALSA sequencer";
      return nullptr;
    }
    return std::make_shared<AlsaBackend>(clientName, std::move(outputs), std::move(inputs));
  } catch (const RtMidiError& e) {
    *why = e.getMessage();
    return nullptr;
  }
}

}  // namespace q9m::platform
