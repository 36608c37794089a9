#include "tools/crc_checksum.h"

#include <zlib.h>

namespace vr {

int32_t Get_CRC_CheckSum(const uint8_t* Buffer, int32_t Count, int32_t* Accumulator) {
  if (Accumulator == nullptr) return 0;
  uLong crc = static_cast<uint32_t>(*Accumulator);
  if (Buffer != nullptr && Count > 0) crc = crc32(crc, Buffer, static_cast<uInt>(Count));
  *Accumulator = static_cast<int32_t>(static_cast<uint32_t>(crc));
  return *Accumulator;
}

Integer Fold_CheckSum(int32_t Accumulator) {
  const uint32_t a = static_cast<uint32_t>(Accumulator);
  const uint16_t folded = static_cast<uint16_t>((a >> 16) | (a & 0xFFFFu));
  return Integer(static_cast<int16_t>(folded));
}

}  // namespace vr
