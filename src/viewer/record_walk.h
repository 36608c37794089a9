// The attributes of a FILE record as the viewer walks them: from the first
// attribute offset, stopping at a length of 0, the end marker 0xFF or the end
// of the buffer. Nothing here raises: a damaged record ends the walk.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/bytes.h"

namespace vr {

struct AttributeRef {
  int64_t offset = 0;  // in the record
  uint32_t type = 0;   // the full 32-bit type code
  int64_t length = 0;  // the attribute's length (header offset 4)
  bool nonResident = false;
};

std::vector<AttributeRef> Walk_Attributes(Bytes Record);

// Bounds-checked reads that give 0 past the end of the buffer (the marking
// and the searches must keep working on a damaged record).
uint64_t Safe_LE(Bytes Buffer, int64_t Offset, int Width);
bool In_Buffer(Bytes Buffer, int64_t Offset, int64_t Length);

// Where a resident attribute's value lies (offset in the record, length);
// false when it lies outside the record.
bool Resident_Value(Bytes Record, const AttributeRef& Attribute, int64_t& Offset, int64_t& Length);

}  // namespace vr
