// A winmm driver layer that behaves as the drivers that the backend meets do: the classic USB
// driver (midiOutLongMsg returns once the bytes are out), Windows MIDI Services (2,048-byte
// pieces, done before the call returns), wine (done at once), a driver that finishes later
// from a thread of its own, one that never finishes (a device gone mid-send), and ports held
// by another program. Input fills the queued buffers in turn, as wine's and the classic
// driver do, and drops what arrives while none is queued; its notices reach the backend on a
// thread of the driver's own, which a test may hold back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/winmm/winmm_driver.h"

namespace q9m::testing {

using Bytes = std::vector<uint8_t>;
using platform::winmm::LongBuffer;
using platform::winmm::Result;

enum class DriverWay { Classic, MidiServices, Wine, Later, Never };

// What arrived at one output port: each message as one piece of the wire, in order.
struct FakeWire {
  std::mutex mutex;
  std::vector<Bytes> pieces;
  std::vector<Bytes> Pieces() {
    std::lock_guard lock(mutex);
    return pieces;
  }
};

class FakeInputPort;
class FakeOutputPort;

struct FakePort {
  platform::winmm::PortCaps caps;
  bool heldElsewhere = false;  // open in another program
  DriverWay way = DriverWay::Wine;
  std::shared_ptr<FakeWire> wire = std::make_shared<FakeWire>();
  FakeInputPort* openInput = nullptr;  // while open
  FakeOutputPort* openOutput = nullptr;
  // Calls that a driver would refuse or that come after the port was closed: any AddBuffer,
  // Prepare or Unprepare after Close, an AddBuffer of an unprepared buffer.
  std::shared_ptr<std::atomic<int>> misuses = std::make_shared<std::atomic<int>>(0);
};

class FakeWinmmDriver final : public platform::winmm::Driver {
 public:
  // The tests keep a pointer to the ports; the driver that they hand on shares them.
  struct Ports {
    std::mutex mutex;
    std::vector<FakePort> outputs;
    std::vector<FakePort> inputs;
  };
  explicit FakeWinmmDriver(std::shared_ptr<Ports> ports) : ports_(std::move(ports)) {}

  uint32_t OutputCount() override;
  std::optional<platform::winmm::PortCaps> OutputCaps(uint32_t id) override;
  std::unique_ptr<platform::winmm::OutputDevice> OpenOutput(uint32_t id, Result& error) override;
  uint32_t InputCount() override;
  std::optional<platform::winmm::PortCaps> InputCaps(uint32_t id) override;
  std::unique_ptr<platform::winmm::InputDevice> OpenInput(uint32_t id,
                                                          platform::winmm::InputEvents& events,
                                                          Result& error) override;

 private:
  std::shared_ptr<Ports> ports_;
};

// An open output port of the fake driver.
class FakeOutputPort final : public platform::winmm::OutputDevice {
 public:
  FakeOutputPort(DriverWay way, std::shared_ptr<FakeWire> wire)
      : way_(way), wire_(std::move(wire)) {}
  ~FakeOutputPort() override;

  // True while a buffer is prepared or in flight.
  bool Busy();

  Result Prepare(LongBuffer& buffer) override;
  Result Send(LongBuffer& buffer) override;
  bool WaitDone(LongBuffer& buffer, uint32_t milliseconds) override;
  Result Unprepare(LongBuffer& buffer) override;
  Result SendShort(uint32_t packed) override;
  Result Reset() override;
  Result Close() override;

 private:
  void Deliver(const LongBuffer& buffer);
  void MarkDone(LongBuffer& buffer);

  const DriverWay way_;
  std::shared_ptr<FakeWire> wire_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LongBuffer*> prepared_;
  std::vector<LongBuffer*> inFlight_;
  std::vector<std::thread> finishers_;
};

// An open input port of the fake driver.
class FakeInputPort final : public platform::winmm::InputDevice {
 public:
  FakeInputPort(platform::winmm::InputEvents& events, FakePort& port);
  ~FakeInputPort() override;

  // The device sends `bytes`; the driver hands them to the queued buffers in pieces of at most
  // `piece` bytes. Returns the number of bytes dropped for want of a buffer.
  size_t Arrive(const Bytes& bytes, size_t piece = 256);
  // Holds back the notices (as a busy system does) until Release.
  void Hold();
  void Release();
  size_t Queued();

  Result Prepare(LongBuffer& buffer) override;
  Result AddBuffer(LongBuffer& buffer) override;
  Result Start() override;
  Result Stop() override;
  Result Reset() override;
  Result Unprepare(LongBuffer& buffer) override;
  Result Close() override;

 private:
  struct Notice {
    LongBuffer* buffer;  // null for a short message
    uint32_t packed;
  };
  void Post(Notice notice);
  void Run();

  platform::winmm::InputEvents& events_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<LongBuffer*> queue_;
  std::deque<Notice> notices_;
  bool started_ = false;
  bool held_ = false;
  bool closed_ = false;
  std::shared_ptr<std::atomic<int>> misuses_;
  std::thread thread_;
};

}  // namespace q9m::testing
