#include "viewer/record_walk.h"

#include "ntfs/attribute_types.h"

namespace vr {

bool In_Buffer(Bytes Buffer, int64_t Offset, int64_t Length) {
  return Offset >= 0 && Length >= 0 && Offset + Length <= static_cast<int64_t>(Buffer.size());
}

uint64_t Safe_LE(Bytes Buffer, int64_t Offset, int Width) {
  if (!In_Buffer(Buffer, Offset, Width)) return 0;
  return GetLE(Buffer, Offset, Width);
}

std::vector<AttributeRef> Walk_Attributes(Bytes Record) {
  std::vector<AttributeRef> out;
  int64_t at = static_cast<int64_t>(Safe_LE(Record, 20, 2));
  while (In_Buffer(Record, at, 8)) {
    AttributeRef a;
    a.offset = at;
    a.type = static_cast<uint32_t>(Safe_LE(Record, at, 4));
    if ((a.type & 0xFF) == kEndMarker) break;
    a.length = static_cast<int64_t>(Safe_LE(Record, at + 4, 2));
    if (a.length == 0) break;
    a.nonResident = Safe_LE(Record, at + 8, 1) != 0;
    out.push_back(a);
    at += a.length;
  }
  return out;
}

bool Resident_Value(Bytes Record, const AttributeRef& Attribute, int64_t& Offset, int64_t& Length) {
  if (Attribute.nonResident) return false;
  Length = static_cast<int64_t>(Safe_LE(Record, Attribute.offset + 16, 4));
  Offset = Attribute.offset + static_cast<int64_t>(Safe_LE(Record, Attribute.offset + 20, 2));
  return In_Buffer(Record, Offset, Length);
}

}  // namespace vr
