#include "alloc/cluster_bitmaps.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "alloc/cluster_claims.h"
#include "volume/session.h"

namespace vr {

Long Count_Used(const ByteArray& Bitmap, Long Start, Long Length) {
  int64_t pos = std::max<int64_t>(Start, 0);
  const int64_t end = std::min<int64_t>(int64_t{Start.Value()} + Length.Value(),
                                        static_cast<int64_t>(Bitmap.size()) * 8);
  int64_t used = 0;
  while (pos < end) {
    if (pos % 8 == 0 && end - pos >= 8) {
      used += std::popcount(Bitmap(pos / 8));
      pos += 8;
    } else {
      used += (Bitmap(pos / 8) >> (pos % 8)) & 1;
      ++pos;
    }
  }
  return Long(used);
}

Long Mft_Zone_Free() {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0) {
    Allocation.MftZoneFree = 0;
  } else {
    Allocation.MftZoneFree =
        Allocation.MftZoneLength -
        Count_Used(Allocation.VolumeBitmap, Allocation.MftZoneStart, Allocation.MftZoneLength);
  }
  return Allocation.MftZoneFree;
}

void Mark_Used(ByteArray& Bitmap, Long Start, Long Length) {
  const int64_t end = int64_t{Start.Value()} + Length.Value();
  for (int64_t c = Start; c < end; ++c) {
    if (c % 8 == 0 && end - c >= 8) {
      Bitmap(c / 8) = 0xFF;
      c += 7;
    } else {
      Bitmap(c / 8) |= static_cast<uint8_t>(1u << (c % 8));
    }
  }
}

int64_t Mark_Run(Long Start, Long Length) {
  if (VolumeSession.SharedMode != 0) return kClaimFree;
  ByteArray& computed = Allocation.ComputedBitmap;
  const int64_t end = int64_t{Start.Value()} + Length.Value();
  if (Start <= 0 || Length <= 0 || end > static_cast<int64_t>(computed.size()) * 8)
    return kClaimFree;
  return Claim_Run(computed, Start, Length);
}

int64_t Mark_Runs(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  const int64_t count = std::min(Lengths.UBound(), Lcns.UBound());
  int64_t fault = kClaimFree;
  for (int64_t i = 1; i <= count; ++i) {
    const int64_t got = Mark_Run(Lcns(i), Lengths(i));
    if (fault == kClaimFree) fault = got;
  }
  return fault;
}

int64_t Mark_Segments_Used(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  // Shared, moves made through the file system would free a shared cluster
  // all the same, so the cross-link test runs there too when the bitmap is
  // sized.
  const bool shared = VolumeSession.SharedMode != 0;
  int64_t fault = kClaimFree;
  if (shared && Allocation.ComputedBitmap.size() == 0) return fault;
  for (int64_t i = 1; i <= Lengths.UBound(); ++i) {
    const int64_t got = Claim_Run(Allocation.ComputedBitmap, Lcns(i).Value(), Lengths(i).Value());
    if (got != kClaimFree && fault == kClaimFree) fault = got;
  }
  return shared && fault == kClaimOutside ? kClaimFree : fault;
}

}  // namespace vr
