#include "tests/support/virtual_midi_fixture.h"

#include <chrono>

#include "platform/midi_service.h"

namespace q9m::testing {

void SentMessages::Add(const uint8_t* bytes, size_t n) {
  {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(bytes, bytes + n);
  }
  added_.notify_all();
}

std::vector<Bytes> SentMessages::All() {
  std::lock_guard lock(mutex_);
  return messages_;
}

size_t SentMessages::Count() {
  std::lock_guard lock(mutex_);
  return messages_.size();
}

bool SentMessages::WaitForCount(size_t count, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return added_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return messages_.size() >= count; });
}

void VirtualMidiTest::SetUp() {
  service_ = std::make_shared<platform::VirtualMidiService>();
  platform::StartMidiService(service_);
}

void VirtualMidiTest::TearDown() {
  platform::StopMidiService();
}

std::shared_ptr<SentMessages> VirtualMidiTest::AddRecordedOutput(const std::string& name,
                                                                 uint32_t* id) {
  auto recorder = std::make_shared<SentMessages>();
  uint32_t added = service_->AddOutput(
      name, [recorder](const uint8_t* bytes, size_t n) { recorder->Add(bytes, n); });
  if (id != nullptr) *id = added;
  return recorder;
}

}  // namespace q9m::testing
