#include "platform/virtual/virtual_midi_service.h"

#include <condition_variable>
#include <thread>

#include "platform/sync.h"

namespace q9m::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Marks long messages done after a delay; Close completes whatever is still pending.
class DoneCompleter {
 public:
  ~DoneCompleter() { CompleteAll(); }

  void Add(MIDIHDR* header, Clock::duration delay) {
    std::lock_guard lock(mutex_);
    pending_.emplace(Clock::now() + delay, header);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    changed_.notify_all();
  }

  void CompleteAll() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      for (auto& [when, header] : pending_) MarkDone(header);
      pending_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    WakeOnTime();  // a message leaves the link when its time is up, not 50 us later
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (pending_.empty()) {
        changed_.wait(lock);
        continue;
      }
      auto first = pending_.begin();
      // A copy: CompleteAll may empty the map while this thread waits.
      const Clock::time_point deadline = first->first;
      if (Clock::now() >= deadline) {
        MarkDone(first->second);
        pending_.erase(first);
      } else {
        changed_.wait_until(lock, deadline);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<Clock::time_point, MIDIHDR*> pending_;
  bool stopping_ = false;
  std::thread thread_;
};

class VirtualOutputConnection final : public OutputConnection {
 public:
  VirtualOutputConnection(std::shared_ptr<VirtualMidiService> service,
                          std::shared_ptr<VirtualMidiService::OutputPort> port, std::mutex& mutex)
      : service_(std::move(service)), port_(std::move(port)), mutex_(mutex) {}

  MMRESULT Check(OutputOp op) override {
    std::lock_guard lock(mutex_);
    if (!port_->plugged) return MMSYSERR_NODRIVER;
    return port_->faults.Take(static_cast<int>(op));
  }

  MMRESULT SendLong(MIDIHDR* header) override {
    VirtualMidiService::LinkSink sink;
    Clock::duration delay;
    {
      std::lock_guard lock(mutex_);
      if (!port_->plugged) return MMSYSERR_NODRIVER;
      sink = port_->sink;
      delay = port_->doneDelay;
    }
    if (sink) {
      delay += sink(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
    }
    if (delay.count() > 0) {
      completer_.Add(header, delay);
    } else {
      MarkDone(header);
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT SendShort(uint32_t packed) override {
    VirtualMidiService::LinkSink sink;
    {
      std::lock_guard lock(mutex_);
      if (!port_->plugged) return MMSYSERR_NODRIVER;
      sink = port_->sink;
    }
    const uint8_t bytes[3] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                              static_cast<uint8_t>(packed >> 16)};
    const uint8_t status = bytes[0];
    size_t n = status >= 0xF8 || status == 0xF6                              ? 1
               : (status & 0xE0) == 0xC0 || status == 0xF1 || status == 0xF3 ? 2
                                                                             : 3;
    if (sink) sink(bytes, n);  // a short message has no done flag to hold
    return MMSYSERR_NOERROR;
  }

  void Close() override { completer_.CompleteAll(); }

 private:
  std::shared_ptr<VirtualMidiService> service_;
  std::shared_ptr<VirtualMidiService::OutputPort> port_;
  std::mutex& mutex_;
  DoneCompleter completer_;
};

class VirtualInputSource final : public InputSource {
 public:
  VirtualInputSource(std::shared_ptr<VirtualMidiService> service,
                     std::shared_ptr<VirtualMidiService::InputPort> port, std::mutex& mutex)
      : service_(std::move(service)), port_(std::move(port)), mutex_(mutex) {}

  MMRESULT Check(InputOp op) override {
    std::lock_guard lock(mutex_);
    return port_->faults.Take(static_cast<int>(op));
  }

  void Close() override {
    std::lock_guard delivering(port_->deliverMutex);
    std::lock_guard lock(mutex_);
    port_->receiver = nullptr;
  }

 private:
  std::shared_ptr<VirtualMidiService> service_;
  std::shared_ptr<VirtualMidiService::InputPort> port_;
  std::mutex& mutex_;
};

}  // namespace

MMRESULT VirtualMidiService::Faults::Take(int op) {
  auto it = refusals.find(op);
  if (it == refusals.end() || it->second == 0) return MMSYSERR_NOERROR;
  if (it->second > 0) --it->second;
  return MMSYSERR_ERROR;
}

uint32_t VirtualMidiService::AddOutput(std::string name, Sink sink) {
  LinkSink instant;
  if (sink) {
    instant = [sink = std::move(sink)](const uint8_t* bytes, size_t n) {
      sink(bytes, n);
      return Clock::duration::zero();
    };
  }
  return AddLinkedOutput(std::move(name), std::move(instant));
}

template <typename Port>
uint32_t VirtualMidiService::Add(std::vector<std::shared_ptr<Port>>& ports,
                                 std::shared_ptr<Port> port) {
  uint32_t id;
  {
    std::lock_guard lock(mutex_);
    ports.push_back(std::move(port));
    id = static_cast<uint32_t>(ports.size() - 1);
  }
  changes_->Note();
  return id;
}

uint32_t VirtualMidiService::AddLinkedOutput(std::string name, LinkSink sink) {
  auto port = std::make_shared<OutputPort>();
  port->name = std::move(name);
  port->sink = std::move(sink);
  return Add(outputs_, std::move(port));
}

uint32_t VirtualMidiService::AddInput(std::string name) {
  auto port = std::make_shared<InputPort>();
  port->name = std::move(name);
  return Add(inputs_, std::move(port));
}

bool VirtualMidiService::Inject(uint32_t inputId, const uint8_t* bytes, size_t n) {
  std::shared_ptr<InputPort> port;
  {
    std::lock_guard lock(mutex_);
    if (inputId >= inputs_.size()) return false;
    port = inputs_[inputId];
  }
  std::lock_guard delivering(port->deliverMutex);
  InputReceiver* receiver;
  {
    std::lock_guard lock(mutex_);
    if (!port->plugged) return false;
    receiver = port->receiver;
  }
  if (receiver == nullptr) return false;
  receiver->Receive(bytes, n);
  return true;
}

void VirtualMidiService::RefuseOutput(uint32_t outputId, OutputOp op, int times) {
  std::lock_guard lock(mutex_);
  outputs_.at(outputId)->faults.refusals[static_cast<int>(op)] = times;
}

void VirtualMidiService::RefuseInput(uint32_t inputId, InputOp op, int times) {
  std::lock_guard lock(mutex_);
  inputs_.at(inputId)->faults.refusals[static_cast<int>(op)] = times;
}

void VirtualMidiService::DelayDone(uint32_t outputId, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  outputs_.at(outputId)->doneDelay = delay;
}

void VirtualMidiService::UnplugOutput(uint32_t outputId) {
  {
    std::lock_guard lock(mutex_);
    outputs_.at(outputId)->plugged = false;
  }
  changes_->Note();
}

void VirtualMidiService::UnplugInput(uint32_t inputId) {
  {
    std::lock_guard lock(mutex_);
    inputs_.at(inputId)->plugged = false;
  }
  changes_->Note();
}

std::unique_ptr<PortWatch> VirtualMidiService::WatchPorts() {
  return std::make_unique<ChangeCountWatch>(changes_);
}

template <typename Port>
std::shared_ptr<Port> VirtualMidiService::Listed(const std::vector<std::shared_ptr<Port>>& ports,
                                                 uint32_t index) {
  for (const auto& port : ports) {
    if (!port->plugged) continue;
    if (index == 0) return port;
    --index;
  }
  return nullptr;
}

uint32_t VirtualMidiService::OutputCount() {
  std::lock_guard lock(mutex_);
  uint32_t count = 0;
  for (const auto& port : outputs_) count += port->plugged ? 1 : 0;
  return count;
}

std::optional<std::string> VirtualMidiService::OutputName(uint32_t index) {
  std::lock_guard lock(mutex_);
  auto port = Listed(outputs_, index);
  if (!port) return std::nullopt;
  return port->name;
}

std::unique_ptr<OutputConnection> VirtualMidiService::OpenOutput(uint32_t index, MMRESULT& error) {
  std::lock_guard lock(mutex_);
  auto port = Listed(outputs_, index);
  if (!port) {
    error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  if ((error = port->faults.Take(static_cast<int>(OutputOp::Open))) != MMSYSERR_NOERROR) {
    return nullptr;
  }
  return std::make_unique<VirtualOutputConnection>(shared_from_this(), port, mutex_);
}

uint32_t VirtualMidiService::InputCount() {
  std::lock_guard lock(mutex_);
  uint32_t count = 0;
  for (const auto& port : inputs_) count += port->plugged ? 1 : 0;
  return count;
}

std::optional<std::string> VirtualMidiService::InputName(uint32_t index) {
  std::lock_guard lock(mutex_);
  auto port = Listed(inputs_, index);
  if (!port) return std::nullopt;
  return port->name;
}

std::unique_ptr<InputSource> VirtualMidiService::OpenInput(uint32_t index, InputReceiver& receiver,
                                                           MMRESULT& error) {
  std::lock_guard lock(mutex_);
  auto port = Listed(inputs_, index);
  if (!port) {
    error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  if (port->receiver != nullptr) {
    error = MMSYSERR_ALLOCATED;
    return nullptr;
  }
  if ((error = port->faults.Take(static_cast<int>(InputOp::Open))) != MMSYSERR_NOERROR) {
    return nullptr;
  }
  port->receiver = &receiver;
  return std::make_unique<VirtualInputSource>(shared_from_this(), port, mutex_);
}

}  // namespace q9m::platform
