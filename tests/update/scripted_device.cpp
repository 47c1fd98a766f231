#include "tests/update/scripted_device.h"

#include "platform/sync.h"
#include "protocol/messages.h"

namespace q9m::testing {

Sent KindOf(const Bytes& m) {
  if (m.size() >= 5 && m[1] == 0x7E && m[4] == 0x01) return Sent::IdentityRequest;
  if (m.size() >= 5 && m[1] == 0x7E) return Sent::Answer;  // the host's identity reply
  if (m.size() < 5 || m[1] != 0x3D) return Sent::Other;
  switch (m[4]) {
    case 0x00:
      return Sent::Answer;
    case 0x01:
      return Sent::BeginUpdate;
    case 0x02:
      return Sent::Write;
    case 0x04:
      return Sent::EndUpdate;
    case 0x0A:
      return Sent::Erase;
    case 0x60:
      return Sent::Read;
    default:
      return Sent::Other;
  }
}

ScriptedDevice::ScriptedDevice(platform::VirtualMidiService& service, Rule rule)
    : service_(service), rule_(std::move(rule)) {
  service_.AddOutput("Scripted Q9m", [this](const uint8_t* b, size_t n) { OnMessage(b, n); });
  input_ = service_.AddInput("Scripted Q9m");
}

ScriptedDevice::~ScriptedDevice() {
  for (auto& t : late_) t.join();
}

void ScriptedDevice::OnMessage(const uint8_t* bytes, size_t n) {
  Bytes message(bytes, bytes + n);
  const Sent kind = KindOf(message);
  int index;
  {
    std::lock_guard lock(mutex_);
    index = counts_[kind]++;
    messages_.push_back(message);
  }
  if (auto reply = rule_(message, kind, index)) service_.Inject(input_, *reply);
}

int ScriptedDevice::Count(Sent kind) {
  std::lock_guard lock(mutex_);
  return counts_[kind];
}

std::vector<Bytes> ScriptedDevice::Messages() {
  std::lock_guard lock(mutex_);
  return messages_;
}

void ScriptedDevice::ReplyAfter(Bytes reply, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  late_.emplace_back([this, reply = std::move(reply), delay] {
    std::this_thread::sleep_for(platform::RealDuration(static_cast<uint32_t>(delay.count())));
    service_.Inject(input_, reply);
  });
}

Bytes ScriptedDevice::Identity(uint8_t model) {
  Bytes reply(protocol::kIdentityReplyLength);
  protocol::BuildIdentityReply(reply.data(), {model, 0, 0, 0});
  return reply;
}

Bytes ScriptedDevice::Status(uint8_t status, uint8_t model) {
  Bytes reply(protocol::kStatusReplyLength);
  protocol::BuildStatusReply(reply.data(), model, status);
  return reply;
}

Bytes ScriptedDevice::ReadData(const Bytes& data, uint8_t model) {
  Bytes reply(protocol::ReadDataReplyLength(data.size()));
  protocol::BuildReadDataReply(reply.data(), model, data.data(), data.size());
  return reply;
}

std::optional<Bytes> ScriptedDevice::Willing(Sent kind, const Bytes& version) {
  switch (kind) {
    case Sent::IdentityRequest:
      return Identity();
    case Sent::Read:
      return ReadData(version);
    case Sent::Answer:
    case Sent::Other:
      return std::nullopt;
    default:
      return Status(0);
  }
}

}  // namespace q9m::testing
