// Assembles the host's messages and sends each through the output port's blocking long send.
// Every operation returns 0 when the port completed the message and -1 otherwise; nothing is
// retried here.
//
// The worker's thread and the dispatcher's thread both send. Vendor messages are assembled in
// one send buffer under a lock held until the send returns, so two messages never mix.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "midi/midi_out_port.h"
#include "protocol/device_code.h"
#include "protocol/messages.h"

namespace q9m::protocol {

inline constexpr size_t kSendBufferSize = 65536;

class SysExSender {
 public:
  // Vendor messages take their model byte from `deviceCode` at the moment they are built.
  SysExSender(midi::MidiOutPort& port, const DeviceCode& deviceCode);

  int SendSysEx(const uint8_t* bytes, size_t length);
  int SendIdentityRequest();
  int SendHostIdentityReply();
  // Stores the identity bytes of HostIdentityReply; sends nothing.
  void SetHostIdentity(const DeviceCodeBytes& code);
  DeviceCodeBytes HostIdentity() const;
  int SendBeginUpdate();
  int SendEndUpdate();
  // -1 without sending when n is not 1 to 4096.
  int SendWriteBlock(uint8_t model, const uint8_t* data, uint32_t address, uint32_t n);
  int SendEraseRange(uint8_t model, uint32_t address, uint32_t size);
  int SendReadRequest(uint32_t address, uint32_t length);
  int SendStatusReply(uint8_t status);

 private:
  // Builds a message into the send buffer with `build` (which returns its length, 0 for none)
  // and sends it, holding the buffer until the send has returned.
  template <typename Build>
  int SendBuilt(Build build);

  midi::MidiOutPort& port_;
  const DeviceCode& deviceCode_;
  DeviceCode hostIdentity_;
  std::mutex bufferMutex_;
  std::unique_ptr<std::array<uint8_t, kSendBufferSize>> sendBuffer_;
};

}  // namespace q9m::protocol
