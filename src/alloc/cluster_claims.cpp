#include "alloc/cluster_claims.h"

#include <bit>

namespace vr {

int64_t Claim_Run(ByteArray& Bitmap, int64_t Start, int64_t Length) {
  if (Length <= 0) return kClaimFree;
  const int64_t end = Start + Length;
  if (Start < 0 || end > static_cast<int64_t>(Bitmap.size()) * 8) return kClaimOutside;
  uint8_t* bits = Bitmap.data();
  int64_t first = kClaimFree;
  int64_t c = Start;
  while (c < end) {
    uint8_t& byte = bits[c / 8];
    if (c % 8 == 0 && end - c >= 8) {
      if (byte != 0 && first == kClaimFree) first = c + std::countr_zero(byte);
      byte = 0xFF;
      c += 8;
      continue;
    }
    const uint8_t mask = static_cast<uint8_t>(1u << (c % 8));
    if ((byte & mask) != 0 && first == kClaimFree) first = c;
    byte |= mask;
    ++c;
  }
  return first;
}

}  // namespace vr
