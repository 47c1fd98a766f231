#include "platform/alsa/alsa_backend.h"

#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_output.h"
#include "platform/alsa/alsa_port_watch.h"
#include "platform/alsa/alsa_seq.h"
#include "platform/port_list.h"
#include "platform/port_naming.h"

namespace q9m::platform {

namespace {

using alsa::SeqAddress;
using alsa::SeqPort;

class AlsaBackend final : public ListedPortBackend {
 public:
  AlsaBackend(std::string clientName, alsa::SeqHandle lister)
      : clientName_(std::move(clientName)), lister_(std::move(lister)) {}
  std::unique_ptr<PortWatch> WatchPorts() override { return alsa::WatchSeqPorts(clientName_); }

 protected:
  std::vector<ListedPort> PresentOutputs() override {
    return Ports(SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
  }
  std::vector<ListedPort> PresentInputs() override {
    return Ports(SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
  }

  std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& listed,
                                                   MMRESULT& error) override {
    const auto port = Describe(listed, error);
    if (!port) return nullptr;
    if (auto raw = alsa::RawMidiOfPort(*port)) {
      auto output = std::make_unique<alsa::RawMidiOutput>(*raw);
      if (output->Open() == MMSYSERR_NOERROR) return output;
    }
    return OpenedOrNull(std::make_unique<alsa::SeqOutput>(clientName_, port->address), error);
  }

  std::unique_ptr<InputSource> OpenInputPort(const ListedPort& listed, InputReceiver& receiver,
                                             MMRESULT& error) override {
    const auto port = Describe(listed, error);
    if (!port) return nullptr;
    if (auto raw = alsa::RawMidiOfPort(*port)) {
      auto input = std::make_unique<alsa::RawMidiInput>(*raw, receiver);
      if (input->Open() == MMSYSERR_NOERROR) return input;
    }
    return OpenedOrNull(std::make_unique<alsa::SeqInput>(clientName_, port->address, receiver),
                        error);
  }

 private:
  std::optional<SeqPort> Describe(const ListedPort& listed, MMRESULT& error) {
    const auto address = alsa::ParseSeqAddress(listed.id);
    std::lock_guard lock(mutex_);
    auto port = address ? alsa::DescribeSeqPort(lister_.get(), *address, true) : std::nullopt;
    // Gone, or another device's port now stands at its address.
    if (!port || port->identity != listed.identity) {
      error = MMSYSERR_BADDEVICEID;
      return std::nullopt;
    }
    return port;
  }

  std::vector<ListedPort> Ports(unsigned int caps) {
    std::vector<DevicePort> ports;
    std::lock_guard lock(mutex_);
    for (const SeqPort& port : alsa::ListSeqPorts(lister_.get())) {
      if ((port.caps & caps) != caps || (port.caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) continue;
      if (IsProgramClient(port.client, clientName_)) continue;  // this program's own, in any copy
      ports.push_back({alsa::FormatSeqAddress(port.address),
                       std::to_string(port.address.client),
                       port.client,
                       port.port,
                       {},
                       port.identity});
    }
    return NameDevicePorts(ports);
  }

  const std::string clientName_;
  std::mutex mutex_;
  alsa::SeqHandle lister_;  // a client without ports that lists and describes the others
};

// alsa-lib prints its errors to stderr by default; every failure here reaches the caller as a
// result, so the printed copy would only be noise (as when a device is unplugged mid-send).
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::shared_ptr<MidiBackend> MakeAlsaBackend(const std::string& clientName, std::string* why) {
  // Without the device file, alsa-lib would only fail after a printed complaint.
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    *why = "/dev/snd/seq cannot be opened";
    return nullptr;
  }
  snd_lib_error_set_handler(&IgnoreAlsaError);
  int error = 0;
  auto lister = alsa::OpenSeq(clientName, SND_SEQ_OPEN_DUPLEX, &error);
  if (!lister) {
    *why = std::string("the sequencer cannot be opened: ") + snd_strerror(error);
    return nullptr;
  }
  return std::make_shared<AlsaBackend>(clientName, std::move(lister));
}

}  // namespace q9m::platform
