// The list of ports that a backend shows: which port each entry is, the name it is listed
// under, and an order that stays put while ports come and go.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/midi_service.h"

namespace q9m::platform {

// One listed port: `id` names it uniquely for the MIDI system (JACK's full name, or the
// sequencer's numeric address), `name` is what the list shows.
struct ListedPort {
  std::string id;
  std::string name;
  // Said before anything is erased: the port runs through a bridge known to cut long messages.
  std::string warning{};
  // Tells apart the devices that may come to stand at the same id (a card number that a device
  // plugged in later takes over): a port with the same id and another identity is another port.
  std::string identity{};
  bool operator==(const ListedPort&) const = default;
  bool SamePort(const ListedPort& other) const {
    return id == other.id && identity == other.identity;
  }
  // What MidiBackend::OutputIdentity gives for this port.
  std::string Identity() const { return id + '\n' + identity; }
};

// The ports in the order they are listed. A port keeps its place while it stays present, ports
// that appear are added at the end, ports that go away leave the list. So an index read in one
// enumeration names the same port in the next one unless a port before it went away.
class StablePortList {
 public:
  // `present` is every port the system has now, in the system's own order.
  void Update(const std::vector<ListedPort>& present);

  size_t size() const { return ports_.size(); }
  const ListedPort* At(size_t index) const {
    return index < ports_.size() ? &ports_[index] : nullptr;
  }

 private:
  std::vector<ListedPort> ports_;
};

// A StablePortList that the service's threads share: one lists, another opens by index.
class SharedPortList {
 public:
  // Takes the ports present now and returns how many are listed.
  uint32_t Update(const std::vector<ListedPort>& present) {
    std::lock_guard lock(mutex_);
    list_.Update(present);
    return static_cast<uint32_t>(list_.size());
  }
  // A copy of the port at `index` as last listed, or nothing.
  std::optional<ListedPort> At(uint32_t index) const {
    std::lock_guard lock(mutex_);
    const ListedPort* port = list_.At(index);
    return port ? std::optional(*port) : std::nullopt;
  }
  std::optional<std::string> NameAt(uint32_t index) const {
    const auto port = At(index);
    return port ? std::optional(port->name) : std::nullopt;
  }
  std::string WarningAt(uint32_t index) const {
    const auto port = At(index);
    return port ? port->warning : std::string();
  }
  std::optional<std::string> IdentityAt(uint32_t index) const {
    const auto port = At(index);
    return port ? std::optional(port->Identity()) : std::nullopt;
  }

 private:
  mutable std::mutex mutex_;
  StablePortList list_;
};

// A backend that lists ports by id and name and opens them by their place in the list as last
// listed: opening never lists again, so an index names the port that the caller saw there. A
// MIDI system provides what is present now and how to open a port by its id, which must fail
// when no port with that id and identity is present any more.
class ListedPortBackend : public MidiBackend {
 public:
  uint32_t OutputCount() final { return outputs_.Update(PresentOutputs()); }
  std::optional<std::string> OutputName(uint32_t index) final { return outputs_.NameAt(index); }
  std::unique_ptr<OutputConnection> OpenOutput(uint32_t index, MMRESULT& error) final;
  uint32_t InputCount() final { return inputs_.Update(PresentInputs()); }
  std::optional<std::string> InputName(uint32_t index) final { return inputs_.NameAt(index); }
  std::string OutputWarning(uint32_t index) final { return outputs_.WarningAt(index); }
  std::string InputWarning(uint32_t index) final { return inputs_.WarningAt(index); }
  std::optional<std::string> OutputIdentity(uint32_t index) final {
    return outputs_.IdentityAt(index);
  }
  std::optional<std::string> InputIdentity(uint32_t index) final {
    return inputs_.IdentityAt(index);
  }
  std::unique_ptr<InputSource> OpenInput(uint32_t index, InputReceiver& receiver,
                                         MMRESULT& error) final;

 protected:
  // The ports that the system has now, in its own order, without the program's own.
  virtual std::vector<ListedPort> PresentOutputs() = 0;
  virtual std::vector<ListedPort> PresentInputs() = 0;
  // Opens the port with this id and identity; nothing, with the reason in `error`, when that
  // fails (MMSYSERR_BADDEVICEID when the port is gone or another device has its id now).
  virtual std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& port,
                                                           MMRESULT& error) = 0;
  virtual std::unique_ptr<InputSource> OpenInputPort(const ListedPort& port,
                                                     InputReceiver& receiver, MMRESULT& error) = 0;

 private:
  SharedPortList outputs_;
  SharedPortList inputs_;
};

// Runs a freshly built port's Open and hands the port out only when it succeeded; a port that
// failed to open is destroyed, which closes what it had opened.
template <typename Port,
          typename Base = std::conditional_t<std::is_base_of_v<OutputConnection, Port>,
                                             OutputConnection, InputSource>>
std::unique_ptr<Base> OpenedOrNull(std::unique_ptr<Port> port, MMRESULT& error) {
  error = port->Open();
  if (error != MMSYSERR_NOERROR) return nullptr;
  return port;
}

}  // namespace q9m::platform
