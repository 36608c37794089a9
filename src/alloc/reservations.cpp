#include "alloc/reservations.h"

#include <cstdint>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
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
