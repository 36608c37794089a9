// The NTFS on-disk layout the program reads and writes: the multi-sector
// header shared by FILE records and index blocks, the FILE record header,
// attribute headers, index headers and entries, the boot-sector fields, and
// the attribute type codes. Each field carries its offset and its width in
// bytes; offsets count from the start of the structure they belong to.
//
// The decoders of a record read from a volume compare the low byte of a type
// code (kStandardInformation ...), as the program always has; code that
// rewrites a record it has already checked compares the full 32-bit code
// (kType...).
#pragma once

#include <cstdint>

#include "runtime/bytes.h"

namespace vr {

struct NtfsField {
  int64_t offset;
  int width;  // bytes
};

// The field's value, unsigned, from the structure at `base` of `b`.
inline uint64_t GetField(Bytes b, NtfsField f, int64_t base = 0) {
  return GetLE(b, base + f.offset, f.width);
}
inline void PutField(MutableBytes b, NtfsField f, uint64_t v, int64_t base = 0) {
  PutLE(b, base + f.offset, f.width, v);
}

// --- Multi-sector header (FILE records, index blocks) ---------------------
constexpr NtfsField kMagic{0x00, 4};
constexpr NtfsField kUsaOffset{0x04, 2};  // offset of the update-sequence array
constexpr NtfsField kUsaCount{0x06, 2};   // sectors + 1 (the number itself)
constexpr NtfsField kLogSequence{0x08, 8};
constexpr uint32_t kFileMagic = 0x454C4946u;  // "FILE"
constexpr uint32_t kIndxMagic = 0x58444E49u;  // "INDX"
// Where the update-sequence array lies in a FILE record: NT 3.51/4.0, and
// NTFS 3.1 (which put the record number before it). Index blocks: 0x28.
constexpr int64_t kUsaOffsetNt4 = 0x2A;
constexpr int64_t kUsaOffsetNtfs31 = 0x30;
constexpr int64_t kUsaOffsetIndex = 0x28;

// --- FILE record header ----------------------------------------------------
constexpr NtfsField kRecordSequence{0x10, 2};
constexpr NtfsField kRecordLinkCount{0x12, 2};
constexpr NtfsField kRecordFirstAttribute{0x14, 2};
constexpr NtfsField kRecordFlags{0x16, 2};
constexpr NtfsField kRecordBytesInUse{0x18, 4};
constexpr NtfsField kRecordBytesAllocated{0x1C, 4};
constexpr NtfsField kRecordBaseReference{0x20, 8};
constexpr NtfsField kRecordNextAttributeId{0x28, 2};
constexpr NtfsField kRecordNumber{0x2C, 4};  // NTFS 3.1 headers only
constexpr uint16_t kRecordInUse = 0x0001;
constexpr uint16_t kRecordIsDirectory = 0x0002;

// --- Attribute header -------------------------------------------------------
constexpr NtfsField kAttrType{0x00, 4};
constexpr NtfsField kAttrLength{0x04, 4};
constexpr NtfsField kAttrNonResident{0x08, 1};
constexpr NtfsField kAttrNameLength{0x09, 1};  // characters
constexpr NtfsField kAttrNameOffset{0x0A, 2};
constexpr NtfsField kAttrFlags{0x0C, 2};
constexpr NtfsField kAttrInstance{0x0E, 2};
// Resident attributes.
constexpr NtfsField kAttrValueLength{0x10, 4};
constexpr NtfsField kAttrValueOffset{0x14, 2};
// Non-resident attributes.
constexpr NtfsField kAttrLowestVcn{0x10, 8};
constexpr NtfsField kAttrHighestVcn{0x18, 8};
constexpr NtfsField kAttrMappingPairsOffset{0x20, 2};
constexpr NtfsField kAttrCompressionUnit{0x22, 1};
constexpr NtfsField kAttrAllocatedSize{0x28, 8};
constexpr NtfsField kAttrDataSize{0x30, 8};
constexpr NtfsField kAttrInitializedSize{0x38, 8};
constexpr NtfsField kAttrCompressedSize{0x40, 8};  // compressed or sparse only
constexpr uint16_t kAttrCompressed = 0x0001;
constexpr uint16_t kAttrEncrypted = 0x4000;
constexpr uint16_t kAttrSparse = 0x8000;
// Where the mapping pairs of an unnamed non-resident attribute start, and of
// one named $I30 (four characters after a 0x40 header).
constexpr int64_t kUnnamedMappingPairs = 0x40;
constexpr int64_t kI30MappingPairs = 0x48;

// --- Index block (INDX) and index headers -----------------------------------
constexpr NtfsField kIndxVcn{0x10, 8};
constexpr int64_t kIndxHeader = 0x18;       // the index header inside a block
constexpr int64_t kIndexRootHeader = 0x10;  // the index header inside an $INDEX_ROOT value
// Index header, from its own start; entry offsets count from there too.
constexpr NtfsField kIndexEntriesOffset{0x00, 4};
constexpr NtfsField kIndexLength{0x04, 4};
constexpr NtfsField kIndexAllocated{0x08, 4};
constexpr NtfsField kIndexFlags{0x0C, 1};
// $INDEX_ROOT value.
constexpr NtfsField kRootIndexedType{0x00, 4};
constexpr NtfsField kRootBlockSize{0x08, 4};
// Index entry.
constexpr NtfsField kEntryReference{0x00, 8};
constexpr NtfsField kEntryLength{0x08, 2};
constexpr NtfsField kEntryKeyLength{0x0A, 2};
constexpr NtfsField kEntryFlags{0x0C, 2};
constexpr int64_t kEntryKey = 0x10;
constexpr uint16_t kEntryHasSubNode = 0x0001;
constexpr uint16_t kEntryLast = 0x0002;

// --- Boot sector ------------------------------------------------------------
constexpr NtfsField kBootSectorsPerCluster{0x0D, 1};
constexpr NtfsField kBootTotalSectors{0x28, 8};
constexpr NtfsField kBootMftLcn{0x30, 8};
constexpr NtfsField kBootMftMirrLcn{0x38, 8};
constexpr NtfsField kBootRecordSize{0x40, 1};  // signed: clusters, or 2^-n bytes
constexpr NtfsField kBootIndexSize{0x44, 1};

// --- Attribute types --------------------------------------------------------
// Low bytes, as the decoders compare them (0xFF is the end marker).
constexpr int kStandardInformation = 0x10;
constexpr int kAttributeList = 0x20;
constexpr int kFileName = 0x30;
constexpr int kSecurityDescriptor = 0x50;
constexpr int kData = 0x80;
constexpr int kIndexRoot = 0x90;
constexpr int kIndexAllocation = 0xA0;
constexpr int kBitmap = 0xB0;
constexpr int kEndMarker = 0xFF;
// Full 32-bit codes.
constexpr uint32_t kTypeStandardInformation = 0x10;
constexpr uint32_t kTypeAttributeList = 0x20;
constexpr uint32_t kTypeFileName = 0x30;
constexpr uint32_t kTypeSecurityDescriptor = 0x50;
constexpr uint32_t kTypeData = 0x80;
constexpr uint32_t kTypeIndexRoot = 0x90;
constexpr uint32_t kTypeIndexAllocation = 0xA0;
constexpr uint32_t kTypeBitmap = 0xB0;
constexpr uint32_t kTypeEnd = 0xFFFFFFFFu;

// The record number within a 64-bit file reference (the top 16 bits are the
// sequence number).
constexpr uint64_t kRecordNumberMask = 0xFFFFFFFFFFFFull;

// The $MFT records $MFTMirr keeps a copy of: four, or one cluster's worth
// when a cluster holds more than four records (as NTFS and libntfs-3g count
// them).
inline int64_t MftMirrorRecords(int64_t clusterBytes, int64_t recordBytes) {
  if (recordBytes <= 0 || clusterBytes <= 4 * recordBytes) return 4;
  return clusterBytes / recordBytes;
}

}  // namespace vr
