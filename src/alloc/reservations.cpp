#include "alloc/reservations.h"

#include <cstdint>
#include <vector>

#include "alloc/free_segments.h"
#include "volume/session.h"

namespace vr {

namespace {

struct Held {
  Long start, length;
};
std::vector<Held> g_delayed;

}  // namespace

bool In_Mft_Zone(Long Cluster) {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0 || s.MftZoneLength <= 0) return false;
  const int64_t start = s.MftZoneStart;
  return Cluster >= start && Cluster < start + int64_t{s.MftZoneLength.Value()};
}

void Cut_Mft_Zone(Long& Start, Long& Length) {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0 || s.MftZoneLength <= 0 || Length <= 0) return;
  const int64_t zoneStart = s.MftZoneStart;
  const int64_t zoneEnd = zoneStart + s.MftZoneLength.Value();
  const int64_t start = Start, end = start + Length.Value();
  if (start >= zoneStart && start < zoneEnd) {
    Start = Long(zoneEnd);
    Length = Long(end > zoneEnd ? end - zoneEnd : 0);
  } else if (start < zoneStart && end > zoneStart) {
    Length = Long(zoneStart - start);
  }
}

void Delay_Release(Long Start, Long Length) {
  if (Length > 0) g_delayed.push_back({Start, Length});
}

Long Delayed_Clusters() {
  Long total = 0;
  for (const Held& h : g_delayed) total += h.length;
  return total;
}

void Release_Delayed() {
  std::vector<Held> held;
  held.swap(g_delayed);
  for (Held& h : held) {
    Cut_Mft_Zone(h.start, h.length);
    if (h.length > 0) Free_Run(h.start, h.length);
  }
}

void Clear_Delayed() { g_delayed.clear(); }

}  // namespace vr
