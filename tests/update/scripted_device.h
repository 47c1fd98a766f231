// A device for worker tests whose every answer the test decides: each message the host sends
// is counted by kind and handed to the test's rule, which returns the reply (or none, for a
// lost reply). Replies are injected at once, or after a delay on a thread of their own.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/virtual/virtual_midi_service.h"

namespace q9m::testing {

using Bytes = std::vector<uint8_t>;

// What the host sent, as the device sees it.
enum class Sent { IdentityRequest, BeginUpdate, EndUpdate, Erase, Write, Read, Answer, Other };
Sent KindOf(const Bytes& message);

class ScriptedDevice {
 public:
  // The rule sees the message and how many of its kind came before it (0 for the first).
  using Rule = std::function<std::optional<Bytes>(const Bytes& message, Sent kind, int index)>;

  ScriptedDevice(platform::VirtualMidiService& service, Rule rule);
  ~ScriptedDevice();

  int Count(Sent kind);
  std::vector<Bytes> Messages();
  // Delivers a reply later (from another thread), as a device that answers late.
  void ReplyAfter(Bytes reply, std::chrono::milliseconds delay);

  // Standard replies of a willing device with code 4A 00 00 00.
  static Bytes Identity(uint8_t model = 0x4A);
  static Bytes Status(uint8_t status, uint8_t model = 0x4A);
  static Bytes ReadData(const Bytes& data, uint8_t model = 0x4A);
  // A willing device: every command acknowledged, the version region holds `version`.
  static std::optional<Bytes> Willing(Sent kind, const Bytes& version);

 private:
  void OnMessage(const uint8_t* bytes, size_t n);

  platform::VirtualMidiService& service_;
  Rule rule_;
  uint32_t input_ = 0;
  std::mutex mutex_;
  std::map<Sent, int> counts_;
  std::vector<Bytes> messages_;
  std::vector<std::thread> late_;
};

}  // namespace q9m::testing
