// Layouts of every System Exclusive message between the updater and the device, and pure
// builders that write them into caller-owned memory. Offsets count from the F0 byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/pack7.h"

namespace q9m::protocol {

using DeviceCodeBytes = std::array<uint8_t, 4>;

inline constexpr uint8_t kSysExStart = 0xF0;
inline constexpr uint8_t kSysExEnd = 0xF7;
inline constexpr uint8_t kVendorId = 0x3D;
inline constexpr uint8_t kUniversalNonRealTime = 0x7E;
inline constexpr uint8_t kGeneralInformation = 0x06;
inline constexpr uint8_t kIdentityRequestId = 0x01;
inline constexpr uint8_t kIdentityReplyId = 0x02;

// Vendor commands (byte 4).
inline constexpr uint8_t kStatusReplyCommand = 0x00;
inline constexpr uint8_t kBeginUpdateCommand = 0x01;
inline constexpr uint8_t kWriteBlockCommand = 0x02;
inline constexpr uint8_t kEndUpdateCommand = 0x04;
inline constexpr uint8_t kEraseRangeCommand = 0x0A;
inline constexpr uint8_t kReadCommand = 0x60;
inline constexpr uint8_t kReadRequestMarker = 0x30;  // byte 5 of a ReadRequest
inline constexpr uint8_t kReadDataMarker1 = 0x04;    // byte 5 of a ReadDataReply
inline constexpr uint8_t kReadDataMarker2 = 0x30;    // byte 6 of a ReadDataReply

inline constexpr uint8_t kStatusAccepted = 0x00;
inline constexpr uint8_t kStatusRefused = 0x01;

// Offsets shared by the layouts.
inline constexpr size_t kManufacturerOffset = 1;
inline constexpr size_t kModelOffset = 3;         // vendor messages
inline constexpr size_t kCommandOffset = 4;       // vendor messages
inline constexpr size_t kStatusOffset = 5;        // StatusReply
inline constexpr size_t kSubIdOffset = 3;         // universal messages: 06
inline constexpr size_t kSubId2Offset = 4;        // universal messages: 01 request, 02 reply
inline constexpr size_t kIdentityCodeOffset = 6;  // IdentityReply: the four DeviceCode bytes
inline constexpr size_t kWriteAddressOffset = 5;
inline constexpr size_t kWriteCountOffset = 10;
inline constexpr size_t kWriteDataOffset = 12;
inline constexpr size_t kEraseAddressOffset = 5;
inline constexpr size_t kEraseSizeOffset = 10;
inline constexpr size_t kReadAddressOffset = 6;
inline constexpr size_t kReadLengthOffset = 11;
inline constexpr size_t kReadDataCountOffset = 9;
inline constexpr size_t kReadDataOffset = 11;

inline constexpr size_t kIdentityRequestLength = 6;
inline constexpr size_t kIdentityReplyLength = 15;
inline constexpr size_t kHostIdentityReplyLength = 15;
inline constexpr size_t kBeginUpdateLength = 6;
inline constexpr size_t kEndUpdateLength = 6;
inline constexpr size_t kStatusReplyLength = 7;
inline constexpr size_t kEraseRangeLength = 16;
inline constexpr size_t kReadRequestLength = 17;

inline constexpr size_t kMaxBlockBytes = 4096;
constexpr size_t WriteBlockLength(size_t n) {
  return PackedLength(n) + 18;
}
constexpr size_t ReadDataReplyLength(size_t n) {
  return PackedLength(n) + 17;
}
inline constexpr size_t kMaxWriteBlockLength = WriteBlockLength(kMaxBlockBytes);  // 4700

// The universal identity request, F0 7E 00 06 01 F7.
inline constexpr std::array<uint8_t, kIdentityRequestLength> kIdentityRequest = {
    kSysExStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityRequestId, kSysExEnd};

// ---- Messages the host sends. Each builder returns the length it wrote. ------------------

// F0 7E 00 06 02 3D d0 d1 d2 d3 31 30 30 30 F7.
size_t BuildHostIdentityReply(uint8_t* destination, const DeviceCodeBytes& identity);
size_t BuildBeginUpdate(uint8_t* destination, uint8_t model);
size_t BuildEndUpdate(uint8_t* destination, uint8_t model);
size_t BuildStatusReply(uint8_t* destination, uint8_t model, uint8_t status);
size_t BuildEraseRange(uint8_t* destination, uint8_t model, uint32_t address, uint32_t size);
size_t BuildReadRequest(uint8_t* destination, uint8_t model, uint32_t address, uint32_t length);
// Packs, checksums and frames n data bytes in one pass; returns 0 (writing nothing) unless
// n is 1 to 4096. `destination` holds at least WriteBlockLength(n) bytes.
size_t BuildWriteBlock(uint8_t* destination, uint8_t model, uint32_t address, const uint8_t* data,
                       size_t n);

// ---- Messages the device sends (for the simulated device and for tests). ----------------

// F0 7E 00 06 02 3D c0 c1 c2 c3 and four revision bytes, F7.
size_t BuildIdentityReply(uint8_t* destination, const DeviceCodeBytes& code);
// Returns 0 unless n is 0 to 16383; `destination` holds ReadDataReplyLength(n) bytes.
size_t BuildReadDataReply(uint8_t* destination, uint8_t model, const uint8_t* data, size_t n);

}  // namespace q9m::protocol
