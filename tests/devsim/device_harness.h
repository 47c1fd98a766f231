// Drives a SimulatedDevice as the host would: builds host messages with the protocol
// builders, collects what the device sends, and runs the whole flash plan.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "devsim/simulated_device.h"
#include "firmware/firmware_images.h"
#include "firmware/flash_plan.h"
#include "platform/sync.h"
#include "protocol/messages.h"
#include "protocol/septets.h"

namespace q9m::devsim::testing {

using Bytes = std::vector<uint8_t>;

// Host messages.
inline Bytes Built(size_t capacity, const std::function<size_t(uint8_t*)>& build) {
  Bytes m(capacity);
  m.resize(build(m.data()));
  return m;
}
inline Bytes IdentityRequest() {
  return Bytes(protocol::kIdentityRequest.begin(), protocol::kIdentityRequest.end());
}
inline Bytes Begin(uint8_t mb = 0x4A) {
  return Built(8, [&](uint8_t* d) { return protocol::BuildBeginUpdate(d, mb); });
}
inline Bytes End(uint8_t mb = 0x4A) {
  return Built(8, [&](uint8_t* d) { return protocol::BuildEndUpdate(d, mb); });
}
inline Bytes Erase(uint32_t address, uint32_t size, uint8_t mb = 0x4A) {
  return Built(16, [&](uint8_t* d) { return protocol::BuildEraseRange(d, mb, address, size); });
}
inline Bytes Read(uint32_t address, uint32_t length, uint8_t mb = 0x4A) {
  return Built(17, [&](uint8_t* d) { return protocol::BuildReadRequest(d, mb, address, length); });
}
inline Bytes Block(uint32_t address, const uint8_t* data, size_t n, uint8_t mb = 0x4A) {
  return Built(protocol::WriteBlockLength(n),
               [&](uint8_t* d) { return protocol::BuildWriteBlock(d, mb, address, data, n); });
}
inline Bytes HostStatus(uint8_t status, uint8_t mb = 0x4A) {
  return Built(7, [&](uint8_t* d) { return protocol::BuildStatusReply(d, mb, status); });
}
inline Bytes HostIdentity(const protocol::DeviceCodeBytes& code) {
  return Built(15, [&](uint8_t* d) { return protocol::BuildHostIdentityReply(d, code); });
}
inline Bytes DeviceStatus(uint8_t status, uint8_t mb = 0x4A) {
  return HostStatus(status, mb);  // the same layout in both directions
}
// The block of image `id` at `offset`, as the plan sends it to `address`.
inline Bytes ImageBlock(uint32_t id, uint32_t offset, uint32_t address, uint8_t mb = 0x4A) {
  const auto image = firmware::FindImage(id);
  const size_t n = std::min<size_t>(firmware::kBlockBytes, image->length - offset);
  return Block(address, image->bytes + offset, n, mb);
}

// Speeds the platform clock up for one test.
class ClockScale {
 public:
  explicit ClockScale(double scale) { platform::SetClockScale(scale); }
  ~ClockScale() { platform::SetClockScale(1); }
};

class DeviceHarness {
 public:
  explicit DeviceHarness(DeviceOptions options = {}) : device(std::move(options)) {
    device.Start([this](const uint8_t* bytes, size_t n) {
      {
        std::lock_guard lock(mutex_);
        sent_.emplace_back(bytes, bytes + n);
      }
      added_.notify_all();
    });
  }

  ~DeviceHarness() { device.Stop(); }  // before the collector below goes away

  void Send(const Bytes& m) { device.Receive(m); }

  // The next message the device sends, waiting up to `realMs`.
  std::optional<Bytes> Next(int realMs = 5000) {
    std::unique_lock lock(mutex_);
    if (!added_.wait_for(lock, std::chrono::milliseconds(realMs), [&] { return !sent_.empty(); })) {
      return std::nullopt;
    }
    Bytes m = std::move(sent_.front());
    sent_.pop_front();
    return m;
  }
  // Sends `m` and returns the first message the device sends afterwards.
  Bytes Exchange(const Bytes& m) {
    Send(m);
    return Next().value_or(Bytes{});
  }
  // Everything sent so far, once the device is idle.
  std::vector<Bytes> Drain() {
    device.WaitIdle(5000);
    std::lock_guard lock(mutex_);
    std::vector<Bytes> all(sent_.begin(), sent_.end());
    sent_.clear();
    return all;
  }

  // Runs the flash plan as a correct host does, each message answered before the next;
  // `mutate` may change a block before it is sent. Stops at the first reply that is not 00.
  // Returns the number of blocks sent.
  uint32_t RunPlan(bool skipBootRows, const std::function<void(Bytes&)>& mutate = {}) {
    uint32_t blocks = 0;
    const uint8_t mb = device.Options().code[0];
    for (size_t row = 0; row < firmware::FlashPlan.size(); ++row) {
      if (skipBootRows && firmware::SkippedWhenVersionMatches(row)) continue;
      const firmware::FlashStep& step = firmware::FlashPlan[row];
      if (step.kind == firmware::kEraseStep) {
        if (Exchange(Erase(step.address, step.size, mb)) != DeviceStatus(0, mb)) return blocks;
        continue;
      }
      const uint32_t length = firmware::WriteLength(step);
      for (uint32_t offset = 0; offset < length; offset += firmware::kBlockBytes) {
        Bytes block = ImageBlock(step.imageId, offset, step.address + offset, mb);
        if (mutate) mutate(block);
        ++blocks;
        if (Exchange(block) != DeviceStatus(0, mb)) return blocks;
      }
    }
    return blocks;
  }

  SimulatedDevice device;

 private:
  std::mutex mutex_;
  std::condition_variable added_;
  std::deque<Bytes> sent_;
};

}  // namespace q9m::devsim::testing
