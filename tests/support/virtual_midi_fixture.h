// A fresh in-process MIDI service for each test, with a recorder on each output port.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/virtual/virtual_midi_service.h"

namespace q9m::testing {

using Bytes = std::vector<uint8_t>;

// Collects what the host sends to one virtual output port.
class SentMessages {
 public:
  void Add(const uint8_t* bytes, size_t n);
  std::vector<Bytes> All();
  size_t Count();
  // Waits up to `timeoutMs` real milliseconds until at least `count` messages arrived.
  bool WaitForCount(size_t count, int timeoutMs);

 private:
  std::mutex mutex_;
  std::condition_variable added_;
  std::vector<Bytes> messages_;
};

class VirtualMidiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Adds an output port whose messages land in the returned recorder.
  std::shared_ptr<SentMessages> AddRecordedOutput(const std::string& name, uint32_t* id = nullptr);

  std::shared_ptr<platform::VirtualMidiService> service_;
};

}  // namespace q9m::testing
