#include "platform/input_pump.h"

namespace q9m::platform {

InputPump::InputPump(InputReceiver& receiver) : receiver_(receiver), thread_([this] { Run(); }) {}

void InputPump::Push(const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    queue_.emplace_back(bytes, bytes + n);
  }
  changed_.notify_one();
}

void InputPump::OnMessage(double /*timeStamp*/, std::vector<unsigned char>* message, void* self) {
  if (message == nullptr) return;
  static_cast<InputPump*>(self)->Push(message->data(), message->size());
}

void InputPump::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void InputPump::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    std::vector<uint8_t> message = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    receiver_.Receive(message.data(), message.size());
    lock.lock();
  }
}

}  // namespace q9m::platform
