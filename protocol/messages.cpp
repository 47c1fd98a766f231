#include "protocol/messages.h"

#include <cstring>

#include "protocol/crc32.h"
#include "protocol/septets.h"

namespace q9m::protocol {

namespace {

// Writes F0 3D 00 MB command; returns the offset after it.
size_t VendorHeader(uint8_t* destination, uint8_t model, uint8_t command) {
  destination[0] = kSysExStart;
  destination[1] = kVendorId;
  destination[2] = 0x00;
  destination[3] = model;
  destination[4] = command;
  return 5;
}

size_t IdentityReply(uint8_t* destination, uint8_t manufacturer, const DeviceCodeBytes& code,
                     const uint8_t (&revision)[4]) {
  const uint8_t head[] = {kSysExStart,         kUniversalNonRealTime, 0x00,
                          kGeneralInformation, kIdentityReplyId,      manufacturer};
  std::memcpy(destination, head, sizeof head);
  std::memcpy(destination + kIdentityCodeOffset, code.data(), code.size());
  std::memcpy(destination + 10, revision, sizeof revision);
  destination[14] = kSysExEnd;
  return kIdentityReplyLength;
}

}  // namespace

size_t BuildHostIdentityReply(uint8_t* destination, const DeviceCodeBytes& identity) {
  return IdentityReply(destination, kVendorId, identity, {'1', '0', '0', '0'});
}

size_t BuildBeginUpdate(uint8_t* destination, uint8_t model) {
  size_t at = VendorHeader(destination, model, kBeginUpdateCommand);
  destination[at] = kSysExEnd;
  return kBeginUpdateLength;
}

size_t BuildEndUpdate(uint8_t* destination, uint8_t model) {
  size_t at = VendorHeader(destination, model, kEndUpdateCommand);
  destination[at] = kSysExEnd;
  return kEndUpdateLength;
}

size_t BuildStatusReply(uint8_t* destination, uint8_t model, uint8_t status) {
  VendorHeader(destination, model, kStatusReplyCommand);
  destination[kStatusOffset] = status;
  destination[6] = kSysExEnd;
  return kStatusReplyLength;
}

size_t BuildEraseRange(uint8_t* destination, uint8_t model, uint32_t address, uint32_t size) {
  VendorHeader(destination, model, kEraseRangeCommand);
  EncodeSeptets(address, destination + kEraseAddressOffset);
  EncodeSeptets(size, destination + kEraseSizeOffset);
  destination[15] = kSysExEnd;
  return kEraseRangeLength;
}

size_t BuildReadRequest(uint8_t* destination, uint8_t model, uint32_t address, uint32_t length) {
  VendorHeader(destination, model, kReadCommand);
  destination[5] = kReadRequestMarker;
  EncodeSeptets(address, destination + kReadAddressOffset);
  EncodeSeptets(length, destination + kReadLengthOffset);
  destination[16] = kSysExEnd;
  return kReadRequestLength;
}

size_t BuildWriteBlock(uint8_t* destination, uint8_t model, uint32_t address, const uint8_t* data,
                       size_t n) {
  if (n == 0 || n > kMaxBlockBytes) return 0;
  VendorHeader(destination, model, kWriteBlockCommand);
  EncodeSeptets(address, destination + kWriteAddressOffset);
  EncodeCount(static_cast<uint32_t>(n), destination + kWriteCountOffset);
  const size_t packed = Pack7(destination + kWriteDataOffset, data, n);
  EncodeSeptets(Crc32(data, n), destination + kWriteDataOffset + packed);
  destination[17 + packed] = kSysExEnd;
  return packed + 18;
}

size_t BuildIdentityReply(uint8_t* destination, const DeviceCodeBytes& code) {
  return IdentityReply(destination, kVendorId, code, {0x01, 0x00, 0x00, 0x00});
}

size_t BuildReadDataReply(uint8_t* destination, uint8_t model, const uint8_t* data, size_t n) {
  if (n > 16383) return 0;
  VendorHeader(destination, model, kReadCommand);
  destination[5] = kReadDataMarker1;
  destination[6] = kReadDataMarker2;
  destination[7] = 0x00;
  destination[8] = 0x00;
  EncodeCount(static_cast<uint32_t>(n), destination + kReadDataCountOffset);
  const size_t packed = Pack7(destination + kReadDataOffset, data, n);
  EncodeSeptets(Crc32(data, n), destination + kReadDataOffset + packed);
  destination[16 + packed] = kSysExEnd;
  return packed + 17;
}

}  // namespace q9m::protocol
