#include "protocol/sysex_sender.h"

#include "platform/midi_types.h"

namespace q9m::protocol {

SysExSender::SysExSender(midi::MidiOutPort& port, const DeviceCode& deviceCode)
    : port_(port),
      deviceCode_(deviceCode),
      sendBuffer_(std::make_unique<std::array<uint8_t, kSendBufferSize>>()) {}

int SysExSender::SendSysEx(const uint8_t* bytes, size_t length) {
  platform::MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
  header.dwBufferLength = static_cast<uint32_t>(length);
  header.dwFlags = 0;
  return port_.SendLong(&header) == 1 ? 0 : -1;
}

template <typename Build>
int SysExSender::SendBuilt(Build build) {
  std::lock_guard lock(bufferMutex_);
  const size_t length = build(sendBuffer_->data());
  if (length == 0) return -1;
  return SendSysEx(sendBuffer_->data(), length);
}

int SysExSender::SendIdentityRequest() {
  return SendSysEx(kIdentityRequest.data(), kIdentityRequest.size());
}

int SysExSender::SendHostIdentityReply() {
  // Built on the stack from one atomic read of the identity bytes: never half of an update.
  std::array<uint8_t, kHostIdentityReplyLength> reply;
  BuildHostIdentityReply(reply.data(), hostIdentity_.Get());
  return SendSysEx(reply.data(), reply.size());
}

void SysExSender::SetHostIdentity(const DeviceCodeBytes& code) {
  hostIdentity_.Set(code);
}

DeviceCodeBytes SysExSender::HostIdentity() const {
  return hostIdentity_.Get();
}

int SysExSender::SendBeginUpdate() {
  return SendBuilt([&](uint8_t* at) { return BuildBeginUpdate(at, deviceCode_.ModelByte()); });
}

int SysExSender::SendEndUpdate() {
  return SendBuilt([&](uint8_t* at) { return BuildEndUpdate(at, deviceCode_.ModelByte()); });
}

int SysExSender::SendWriteBlock(uint8_t model, const uint8_t* data, uint32_t address, uint32_t n) {
  return SendBuilt([&](uint8_t* at) { return BuildWriteBlock(at, model, address, data, n); });
}

int SysExSender::SendEraseRange(uint8_t model, uint32_t address, uint32_t size) {
  return SendBuilt([&](uint8_t* at) { return BuildEraseRange(at, model, address, size); });
}

int SysExSender::SendReadRequest(uint32_t address, uint32_t length) {
  return SendBuilt(
      [&](uint8_t* at) { return BuildReadRequest(at, deviceCode_.ModelByte(), address, length); });
}

int SysExSender::SendStatusReply(uint8_t status) {
  return SendBuilt(
      [&](uint8_t* at) { return BuildStatusReply(at, deviceCode_.ModelByte(), status); });
}

}  // namespace q9m::protocol
