// Choosing where a file goes: a free segment long enough above the lower
// bound the NTFS allocation floor sets, the file at the segment's start or
// at its high end; and taking the region from the free-segment table.
#include <algorithm>
#include <cstdint>

#include "alloc/allocation_state.h"
#include "alloc/volume_bitmap.h"
#include "optimise/move_engine.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

namespace {

// The first segment that takes D clusters above Lo; 0 when none.
Long FindSegment(int64_t D, int64_t Lo, Long& Target) {
  const AllocationStateData& a = Allocation;
  for (int64_t i = 1; i <= a.FreeCount; ++i) {
    const int64_t start = a.FreeStarts(i);
    const int64_t length = a.FreeLengths(i);
    const int64_t end = start + length;
    if (end <= Lo || length < D) continue;
    if (start >= Lo && Lo != 0) {
      Target = Long(start);
      return Long(i);
    }
    if (end - Lo >= D) {  // the file goes at the high end of the segment
      Target = Long(end - D);
      return Long(i);
    }
  }
  return 0;
}

}  // namespace

Long Avail_Block(Long Needed, Long& Target, Long Lo) {
  if (Needed <= 0) return 0;
  const AllocationStateData& a = Allocation;
  const int64_t d = Rounded_Clusters(Needed);
  int64_t lo = Lo;
  if (VolumeSession.IsNtfs != 0)
    lo = lo < a.AllocationReserveEnd ? a.AllocationReserveEnd.Value() : a.AllocationFloor.Value();
  const Long found = FindSegment(d, lo, Target);
  if (found != 0 || lo == 0) return found;
  // Nothing above the floor: anywhere, at a segment's high end.
  return FindSegment(d, 0, Target);
}

bool Allocate_Only(Long Needed, Long& Target, Long Lo) {
  try {
    const Long k = Avail_Block(Needed, Target, Lo);
    if (k == 0) return false;
    AllocationStateData& a = Allocation;
    // The segment gives up the whole rounded reservation: taking only the
    // clusters asked for from a segment whose high end holds the target
    // would leave the target listed as free.
    const Long taken = std::min(Rounded_Clusters(Needed), a.FreeLengths(k));
    if (a.FreeStarts(k) == Target) a.FreeStarts(k) += taken;
    a.FreeLengths(k) -= taken;
    Set_Volume_Bits(Target, Needed, true);
    return true;
  } catch (const RunError& e) {
    Trap_Error("Allocate_Only", e.Number(), e.Description());
    return false;
  }
}

}  // namespace vr
