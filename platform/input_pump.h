// Hands what a MIDI system's input thread receives to the service's receiver on a thread of its
// own, so that the receiver's work (the port owner's callbacks) never runs in the system's
// real-time or input thread and cannot make it miss input.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi_service.h"

namespace q9m::platform {

class InputPump {
 public:
  explicit InputPump(InputReceiver& receiver);
  ~InputPump() { Stop(); }
  InputPump(const InputPump&) = delete;
  InputPump& operator=(const InputPump&) = delete;

  // Queues a copy of `n` bytes for the receiver; ignored once stopped.
  void Push(const uint8_t* bytes, size_t n);
  // Shaped as librtmidi's input callback, with the pump as its user data.
  static void OnMessage(double timeStamp, std::vector<unsigned char>* message, void* self);

  // Waits for a delivery in progress; afterwards the receiver is not called any more.
  void Stop();

 private:
  void Run();

  InputReceiver& receiver_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> queue_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the members it uses exist
};

}  // namespace q9m::platform
