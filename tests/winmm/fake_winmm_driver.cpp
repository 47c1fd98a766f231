#include "tests/winmm/fake_winmm_driver.h"

#include <algorithm>
#include <chrono>

#include "platform/sync.h"

namespace q9m::testing {

namespace {

using namespace platform::winmm;

// The classic USB driver's pace: about 75 KB/s.
constexpr int kClassicBytesPerMs = 75;
constexpr size_t kMidiServicesPiece = 2048;
constexpr auto kLaterDelay = std::chrono::milliseconds(20);

// Marks a buffer as the driver's own between Prepare and Unprepare.
int preparedMark;

template <typename T>
bool Erase(std::vector<T*>& list, T* item) {
  const auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

template <typename T>
bool Contains(const std::vector<T*>& list, T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

// ---- Driver ------------------------------------------------------------------------------

uint32_t FakeWinmmDriver::OutputCount() {
  std::lock_guard lock(ports_->mutex);
  return static_cast<uint32_t>(ports_->outputs.size());
}

std::optional<PortCaps> FakeWinmmDriver::OutputCaps(uint32_t id) {
  std::lock_guard lock(ports_->mutex);
  if (id >= ports_->outputs.size()) return std::nullopt;
  return ports_->outputs[id].caps;
}

std::unique_ptr<OutputDevice> FakeWinmmDriver::OpenOutput(uint32_t id, Result& error) {
  std::lock_guard lock(ports_->mutex);
  if (id >= ports_->outputs.size()) {
    error = kBadDeviceId;
    return nullptr;
  }
  FakePort& port = ports_->outputs[id];
  if (port.heldElsewhere) {
    error = kAllocated;
    return nullptr;
  }
  auto device = std::make_unique<FakeOutputPort>(port.way, port.wire);
  port.openOutput = device.get();
  return device;
}

uint32_t FakeWinmmDriver::InputCount() {
  std::lock_guard lock(ports_->mutex);
  return static_cast<uint32_t>(ports_->inputs.size());
}

std::optional<PortCaps> FakeWinmmDriver::InputCaps(uint32_t id) {
  std::lock_guard lock(ports_->mutex);
  if (id >= ports_->inputs.size()) return std::nullopt;
  return ports_->inputs[id].caps;
}

std::unique_ptr<InputDevice> FakeWinmmDriver::OpenInput(uint32_t id, InputEvents& events,
                                                        Result& error) {
  std::lock_guard lock(ports_->mutex);
  if (id >= ports_->inputs.size()) {
    error = kBadDeviceId;
    return nullptr;
  }
  FakePort& port = ports_->inputs[id];
  if (port.heldElsewhere) {
    error = kAllocated;
    return nullptr;
  }
  auto device = std::make_unique<FakeInputPort>(events, port);
  port.openInput = device.get();
  return device;
}

// ---- Output ------------------------------------------------------------------------------

FakeOutputPort::~FakeOutputPort() {
  for (std::thread& finisher : finishers_) finisher.join();
}

bool FakeOutputPort::Busy() {
  std::lock_guard lock(mutex_);
  return !prepared_.empty() || !inFlight_.empty();
}

Result FakeOutputPort::Prepare(LongBuffer& buffer) {
  std::lock_guard lock(mutex_);
  buffer.system = &preparedMark;
  if (!Contains(prepared_, &buffer)) prepared_.push_back(&buffer);
  return kNoError;
}

void FakeOutputPort::Deliver(const LongBuffer& buffer) {
  std::lock_guard lock(wire_->mutex);
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data);
  const size_t piece = way_ == DriverWay::MidiServices ? kMidiServicesPiece : buffer.length;
  for (size_t at = 0; at < buffer.length; at += piece) {
    wire_->pieces.emplace_back(bytes + at, bytes + std::min<size_t>(buffer.length, at + piece));
  }
}

void FakeOutputPort::MarkDone(LongBuffer& buffer) {
  std::lock_guard lock(mutex_);
  Erase(inFlight_, &buffer);
  changed_.notify_all();
}

Result FakeOutputPort::Send(LongBuffer& buffer) {
  {
    std::lock_guard lock(mutex_);
    if (!Contains(prepared_, &buffer)) return kUnprepared;
    inFlight_.push_back(&buffer);
  }
  switch (way_) {
    case DriverWay::Classic:
      std::this_thread::sleep_for(std::chrono::milliseconds(buffer.length / kClassicBytesPerMs));
      [[fallthrough]];
    case DriverWay::MidiServices:
    case DriverWay::Wine:
      Deliver(buffer);
      MarkDone(buffer);
      break;
    case DriverWay::Later: {
      std::lock_guard lock(mutex_);
      finishers_.emplace_back([this, &buffer] {
        std::this_thread::sleep_for(kLaterDelay);
        Deliver(buffer);
        MarkDone(buffer);
      });
      break;
    }
    case DriverWay::Never:
      break;
  }
  return kNoError;
}

bool FakeOutputPort::WaitDone(LongBuffer& buffer, uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, platform::RealDuration(milliseconds),
                           [&] { return !Contains(inFlight_, &buffer); });
}

Result FakeOutputPort::Unprepare(LongBuffer& buffer) {
  std::lock_guard lock(mutex_);
  if (Contains(inFlight_, &buffer)) return kStillPlaying;
  Erase(prepared_, &buffer);
  buffer.system = nullptr;
  return kNoError;
}

Result FakeOutputPort::SendShort(uint32_t packed) {
  std::lock_guard lock(wire_->mutex);
  wire_->pieces.push_back({static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                           static_cast<uint8_t>(packed >> 16)});
  return kNoError;
}

Result FakeOutputPort::Reset() {
  {
    // As Windows and wine do: "all notes off" on every channel.
    std::lock_guard wire(wire_->mutex);
    for (uint8_t channel = 0; channel < 16; ++channel) {
      wire_->pieces.push_back({static_cast<uint8_t>(0xB0 | channel), 0x7B, 0x00});
    }
  }
  std::lock_guard lock(mutex_);
  if (way_ != DriverWay::Later) inFlight_.clear();  // a finisher gives its buffer back itself
  changed_.notify_all();
  return kNoError;
}

Result FakeOutputPort::Close() {
  std::lock_guard lock(mutex_);
  return inFlight_.empty() ? kNoError : kStillPlaying;
}

// ---- Input -------------------------------------------------------------------------------

FakeInputPort::FakeInputPort(InputEvents& events, FakePort& port)
    : events_(events), misuses_(port.misuses), thread_([this] { Run(); }) {}

FakeInputPort::~FakeInputPort() {
  Close();
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    held_ = false;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void FakeInputPort::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return closed_ || (!held_ && !notices_.empty()); });
    if (notices_.empty()) return;  // closed, and every notice handed on
    if (held_) continue;
    const Notice notice = notices_.front();
    notices_.pop_front();
    lock.unlock();
    if (notice.buffer != nullptr) {
      events_.LongData(*notice.buffer, false);
    } else {
      events_.ShortData(notice.packed);
    }
    lock.lock();
  }
}

void FakeInputPort::Post(Notice notice) {
  notices_.push_back(notice);
  changed_.notify_all();
}

size_t FakeInputPort::Arrive(const Bytes& bytes, size_t piece) {
  std::lock_guard lock(mutex_);
  if (!started_ || closed_) return bytes.size();
  size_t dropped = 0;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t end = std::min(bytes.size(), at + piece);
    for (size_t i = at; i < end; ++i) {
      if (bytes[i] < 0xF0 && bytes[i] >= 0x80) {
        Post({nullptr, bytes[i]});  // the tests' short messages are one-byte status only
        continue;
      }
      if (queue_.empty()) {
        ++dropped;
        continue;
      }
      LongBuffer* buffer = queue_.front();
      buffer->data[buffer->recorded++] = static_cast<char>(bytes[i]);
      if (bytes[i] == 0xF7 || buffer->recorded == buffer->length) {
        queue_.pop_front();
        Post({buffer, 0});
      }
    }
  }
  return dropped;
}

void FakeInputPort::Hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void FakeInputPort::Release() {
  std::lock_guard lock(mutex_);
  held_ = false;
  changed_.notify_all();
}

size_t FakeInputPort::Queued() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

Result FakeInputPort::Prepare(LongBuffer& buffer) {
  std::lock_guard lock(mutex_);
  if (closed_) ++*misuses_;
  buffer.system = &preparedMark;
  return kNoError;
}

Result FakeInputPort::AddBuffer(LongBuffer& buffer) {
  std::lock_guard lock(mutex_);
  if (closed_ || buffer.system == nullptr) ++*misuses_;
  buffer.recorded = 0;
  queue_.push_back(&buffer);
  return kNoError;
}

Result FakeInputPort::Start() {
  std::lock_guard lock(mutex_);
  started_ = true;
  return kNoError;
}

Result FakeInputPort::Stop() {
  std::lock_guard lock(mutex_);
  started_ = false;
  return kNoError;
}

Result FakeInputPort::Reset() {
  std::lock_guard lock(mutex_);
  started_ = false;
  for (LongBuffer* buffer : queue_) Post({buffer, 0});
  queue_.clear();
  return kNoError;
}

Result FakeInputPort::Unprepare(LongBuffer& buffer) {
  std::lock_guard lock(mutex_);
  if (std::find(queue_.begin(), queue_.end(), &buffer) != queue_.end()) return kStillPlaying;
  if (closed_) ++*misuses_;
  buffer.system = nullptr;
  return kNoError;
}

Result FakeInputPort::Close() {
  std::unique_lock lock(mutex_);
  if (closed_) return kNoError;
  if (!queue_.empty()) return kStillPlaying;
  // As wine and Windows do: the notices posted before the close are handed on first.
  closed_ = true;
  held_ = false;
  changed_.notify_all();
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  return kNoError;
}

}  // namespace q9m::testing
