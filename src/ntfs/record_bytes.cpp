#include "ntfs/record_bytes.h"

namespace vr {

Long Get_Num(Bytes Buffer, int64_t Offset, int Width) {
  switch (Width) {
    case 1:
    case 2:
    case 3: return Long(static_cast<int32_t>(GetLE(Buffer, Offset, Width)));
    case 4: return Long(I32(Buffer, Offset));
    default: return Long(0);
  }
}

std::string Get_Text(Bytes Buffer, int64_t Offset, int64_t Length) {
  return GetAscii(Buffer, Offset, Length);
}

std::string Get_Name(Bytes Buffer, int64_t Offset) {
  const int n = U8(Buffer, Offset);
  std::string name;
  name.reserve(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k)
    name.push_back(static_cast<char>(U16(Buffer, Offset + 2 + 2 * k) & 0xFF));
  return name;
}

int64_t Attribute_Last_Vcn(Bytes Buffer, int64_t AttributeOffset) {
  return I64(Buffer, AttributeOffset + 0x18);
}

bool Attribute_Damaged(Bytes Buffer, int64_t AttributeOffset, int64_t Length) {
  const uint32_t type = U32(Buffer, AttributeOffset);
  if (type == 0 || type > 0x100 || type % 0x10 != 0) return true;
  if (U8(Buffer, AttributeOffset + 8) != 0) return false;  // non-resident
  const int64_t value = U16(Buffer, AttributeOffset + 0x14);
  const int64_t valueLength = U32(Buffer, AttributeOffset + 0x10);
  if (value % 8 != 0 || value + valueLength > Length) return true;
  // A $FILE_NAME value: 0x42 bytes, then the name's length in characters.
  constexpr int64_t kNameAt = 0x42;
  if (type == 0x30)
    return valueLength < kNameAt ||
           kNameAt + 2 * int64_t{U8(Buffer, AttributeOffset + value + 0x40)} > valueLength;
  return false;
}

bool Is_I30_Attribute(Bytes Buffer, int64_t AttributeOffset) {
  if (U8(Buffer, AttributeOffset + 9) != 4) return false;
  const int64_t name = AttributeOffset + U16(Buffer, AttributeOffset + 0x0A);
  static const char kI30[] = "$I30";
  for (int k = 0; k < 4; ++k)
    if (U16(Buffer, name + 2 * k) != static_cast<uint8_t>(kI30[k])) return false;
  return true;
}

}  // namespace vr
