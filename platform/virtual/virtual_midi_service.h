// In-process MIDI ports for tests and for the simulated device. An output port hands every
// message that the host sends to a sink, byte for byte; an input port delivers the bytes that
// a test or the simulated device injects, in any split, on the injecting thread. Ports added or
// unplugged while a watch runs are reported to it at once, as a system's hot-plug notice is. An
// output may model a slow link: its long messages are marked done only once they have passed it, as
// a real interface marks them done once the last byte is out. Fault hooks refuse operations, delay
// the done flag of long messages, and unplug ports.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi_service.h"

namespace q9m::platform {

class VirtualMidiService final : public MidiBackend,
                                 public std::enable_shared_from_this<VirtualMidiService> {
 public:
  // Receives each long message (or packed short message, as 1 to 3 bytes) that the host sends.
  using Sink = std::function<void(const uint8_t* bytes, size_t n)>;
  // A sink at the far end of a link: returns how long the message still spends on the link
  // before it has all left the port. A long message is marked done only after that time.
  using LinkSink =
      std::function<std::chrono::steady_clock::duration(const uint8_t* bytes, size_t n)>;

  // Adds a port at the end of the list and returns its id (its index while no port before it
  // has been unplugged).
  uint32_t AddOutput(std::string name, Sink sink);
  uint32_t AddLinkedOutput(std::string name, LinkSink sink);
  uint32_t AddInput(std::string name);

  // Device to host: delivers `n` bytes to the open input port with this id, on this thread.
  // Returns false when the port is not open.
  bool Inject(uint32_t inputId, const uint8_t* bytes, size_t n);
  bool Inject(uint32_t inputId, const std::vector<uint8_t>& bytes) {
    return Inject(inputId, bytes.data(), bytes.size());
  }

  // Refuses the next `times` calls of `op` (every call when times is negative).
  void RefuseOutput(uint32_t outputId, OutputOp op, int times = -1);
  void RefuseInput(uint32_t inputId, InputOp op, int times = -1);
  // Long messages on this output are delivered at once but marked done only after `delay`
  // (added to the time on the link, if any).
  void DelayDone(uint32_t outputId, std::chrono::milliseconds delay);
  // The device goes away: the port leaves the list, sends on it fail, injections are lost.
  void UnplugOutput(uint32_t outputId);
  void UnplugInput(uint32_t inputId);

  // MidiBackend
  uint32_t OutputCount() override;
  std::optional<std::string> OutputName(uint32_t index) override;
  std::unique_ptr<OutputConnection> OpenOutput(uint32_t index, MMRESULT& error) override;
  uint32_t InputCount() override;
  std::optional<std::string> InputName(uint32_t index) override;
  std::unique_ptr<InputSource> OpenInput(uint32_t index, InputReceiver& receiver,
                                         MMRESULT& error) override;
  std::unique_ptr<PortWatch> WatchPorts() override;

  struct Faults {
    std::map<int, int> refusals;  // operation -> calls still to refuse (negative: all)
    MMRESULT Take(int op);
  };
  struct OutputPort {
    std::string name;
    LinkSink sink;
    bool plugged = true;
    std::chrono::milliseconds doneDelay{0};
    Faults faults;
  };
  struct InputPort {
    std::string name;
    bool plugged = true;
    InputReceiver* receiver = nullptr;  // the open connection, if any
    Faults faults;
    std::mutex deliverMutex;  // held while bytes are delivered, so Close can wait for it
  };

 private:
  // Puts the port at the end of `ports` and tells the watches; returns its id.
  template <typename Port>
  uint32_t Add(std::vector<std::shared_ptr<Port>>& ports, std::shared_ptr<Port> port);
  template <typename Port>
  static std::shared_ptr<Port> Listed(const std::vector<std::shared_ptr<Port>>& ports,
                                      uint32_t index);

  std::mutex mutex_;
  std::vector<std::shared_ptr<OutputPort>> outputs_;
  std::vector<std::shared_ptr<InputPort>> inputs_;
  // Noted, outside mutex_, for every port added or unplugged.
  const std::shared_ptr<ChangeCount> changes_ = std::make_shared<ChangeCount>();
};

}  // namespace q9m::platform
