#include "alloc/reservations.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "alloc/volume_bitmap.h"
#include "volume/session.h"

namespace vr {

bool In_Mft_Zone(Long Cluster) {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0 || Allocation.MftZoneLength <= 0) return false;
  const int64_t start = Allocation.MftZoneStart;
  return Cluster >= start && Cluster < start + int64_t{Allocation.MftZoneLength.Value()};
}

void Cut_Mft_Zone(Long& Start, Long& Length) {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0 || Allocation.MftZoneLength <= 0 || Length <= 0) return;
  const int64_t zoneStart = Allocation.MftZoneStart;
  const int64_t zoneEnd = zoneStart + Allocation.MftZoneLength.Value();
  const int64_t start = Start, end = start + Length.Value();
  if (start >= zoneStart && start < zoneEnd) {
    Start = Long(zoneEnd);
    Length = Long(end > zoneEnd ? end - zoneEnd : 0);
  } else if (start < zoneStart && end > zoneStart) {
    Length = Long(zoneStart - start);
  }
}

void Release_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  const int64_t count = std::min(Lengths.UBound(), Lcns.UBound());
  for (int64_t i = 1; i <= count; ++i) {
    Long start = Lcns(i);
    Long length = Lengths(i);
    if (length <= 0) continue;
    if (VolumeSession.SharedMode == 0) Set_Volume_Bits(start, length, false);
    Cut_Mft_Zone(start, length);
    if (length > 0) Free_Run(start, length);
  }
}

void Delay_Release(Long Start, Long Length) {
  if (Length > 0) Allocation.DelayedReleases.push_back({Start, Length});
}

Long Delayed_Clusters() {
  Long total = 0;
  for (const HeldRun& h : Allocation.DelayedReleases) total += h.length;
  return total;
}

void Release_Delayed() {
  std::vector<HeldRun> held;
  held.swap(Allocation.DelayedReleases);
  for (HeldRun& h : held) {
    Cut_Mft_Zone(h.start, h.length);
    if (h.length > 0) Free_Run(h.start, h.length);
  }
}

void Clear_Delayed() { Allocation.DelayedReleases.clear(); }

}  // namespace vr
