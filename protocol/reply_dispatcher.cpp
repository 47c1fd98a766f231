#include "protocol/reply_dispatcher.h"

#include "protocol/messages.h"
#include "protocol/septets.h"

namespace q9m::protocol {

namespace {

// The fewest bytes each kind of message needs for the bytes that are examined; anything
// shorter is dropped like a message the host does not understand.
constexpr size_t kMinCommandLength = 5;
constexpr size_t kMinStatusReplyLength = 6;
constexpr size_t kMinIdentityReplyLength = 10;
constexpr size_t kMinReadDataHeaderLength = kReadDataOffset;  // up to the count

void Signal(UpdateContext& context) {
  context.replyEvent.Set();
}

void SetStatusAndSignal(UpdateContext& context, int status) {
  context.replyStatus.store(status, std::memory_order_relaxed);
  Signal(context);
}

void ReadData(UpdateContext& context, const uint8_t* m, size_t length) {
  if (length < kStatusOffset + 1) return;
  if (m[5] != kReadDataMarker1) {
    Signal(context);
    return;
  }
  if (length < 7) return;
  context.replyStatus.store(kStatusFailed, std::memory_order_relaxed);
  if (m[6] != kReadDataMarker2 || length < kMinReadDataHeaderLength) {
    Signal(context);
    return;
  }
  const size_t n = DecodeCount(m + kReadDataCountOffset);
  const size_t packed = PackedLength(n);
  // Packed data and CRC must lie inside the message; the data must fit the buffer.
  if (kReadDataOffset + packed + kSeptetIntegerLength > length) {
    Signal(context);
    return;
  }
  const uint32_t crc = DecodeSeptets(m + kReadDataOffset + packed);
  if (context.device.readBack.AppendPacked(m + kReadDataOffset, packed, n, crc) ==
      ReadBackBuffer::AppendResult::Appended) {
    context.replyStatus.store(kStatusSuccess, std::memory_order_relaxed);
  }
  Signal(context);
}

void VendorMessage(UpdateContext& context, const uint8_t* m, size_t length) {
  if (m[kModelOffset] != context.device.deviceCode.ModelByte()) return;
  switch (m[kCommandOffset]) {
    case kStatusReplyCommand:
      if (length >= kMinStatusReplyLength) SetStatusAndSignal(context, m[kStatusOffset]);
      return;
    case 0x01:
    case 0x04:
    case 0x05:
      context.sender.SendStatusReply(kStatusAccepted);
      return;
    case 0x02:
      SetStatusAndSignal(context, kStatusSuccess);
      return;
    case 0x03:
      return;
    case kReadCommand:
      ReadData(context, m, length);
      return;
    default:
      context.sender.SendStatusReply(kStatusRefused);
      return;
  }
}

void UniversalMessage(UpdateContext& context, const uint8_t* m, size_t length) {
  if (m[kSubIdOffset] != kGeneralInformation) return;
  switch (m[kSubId2Offset]) {
    case kIdentityRequestId:
      context.sender.SendHostIdentityReply();
      return;
    case kIdentityReplyId:
      if (length < kMinIdentityReplyLength) return;
      context.receivedDeviceCode.Set({m[6], m[7], m[8], m[9]});
      SetStatusAndSignal(context, kStatusSuccess);
      return;
    default:
      context.sender.SendStatusReply(kStatusRefused);
      return;
  }
}

}  // namespace

void DispatchReply(UpdateContext& context, const uint8_t* message, size_t length) {
  if (length < 1 || message[0] != kSysExStart) return;
  if (length < kMinCommandLength) return;
  switch (message[kManufacturerOffset]) {
    case kVendorId:
      VendorMessage(context, message, length);
      return;
    case kUniversalNonRealTime:
      UniversalMessage(context, message, length);
      return;
    default:
      return;
  }
}

void DispatchReplies(UpdateContext& context) {
  size_t length = 0;
  while (const uint8_t* message = context.inPort.PeekSysEx(&length)) {
    DispatchReply(context, message, length);
    context.inPort.DropSysEx();
  }
}

void DispatchRepliesTick(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  DispatchReplies(*reinterpret_cast<UpdateContext*>(user));
}

uint32_t StartReplyDispatcher(midi::CDxMTimer& timer, UpdateContext& context) {
  return timer.Start(1, &DispatchRepliesTick, reinterpret_cast<uintptr_t>(&context),
                     platform::TIME_MIDI_PORTS);
}

}  // namespace q9m::protocol
