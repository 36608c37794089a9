// NTFS attribute type codes as the FILE record decoders compare them (the
// low byte of the 32-bit type; 0xFF is the end marker), and file references.
#pragma once

#include <cstdint>

namespace vr {

constexpr int kStandardInformation = 0x10;
constexpr int kAttributeList = 0x20;
constexpr int kFileName = 0x30;
constexpr int kSecurityDescriptor = 0x50;
constexpr int kData = 0x80;
constexpr int kIndexRoot = 0x90;
constexpr int kIndexAllocation = 0xA0;
constexpr int kBitmap = 0xB0;
constexpr int kEndMarker = 0xFF;

// The record number within a 64-bit file reference (the top 16 bits are the
// sequence number).
constexpr uint64_t kRecordNumberMask = 0xFFFFFFFFFFFFull;

}  // namespace vr
