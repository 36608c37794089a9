// The pack pass's step: one file into the gap it was chosen for, then the
// gap table followed to where that gap now is.
#include "alloc/allocation_state.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_display.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/file_table.h"

namespace vr {

void Moveit(Long& K, Long R, Long& GapLength, Long& GapStart) {
  try {
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    if (!Prepare_File(R, lengths, lcns, info)) return;
    AllocationStateData& a = Allocation;
    Opt_Value(2, Str(int64_t{a.FreeCount.Value()} - a.FreeCursor.Value()));
    Long count = ClusterCount(R);
    Long target = GapStart;
    if (!Move_File(R, lengths, lcns, count, target, info, K)) return;
    // The table may have changed around the gap (moves release segments):
    // find the segment that now starts at or after the gap's start.
    while (K > 0 && a.FreeStarts(K) > GapStart) K -= 1;
    while (K < a.FreeCount && a.FreeStarts(K) < GapStart) K += 1;
    GapStart = a.FreeStarts(K);
    GapLength = a.FreeLengths(K);
  } catch (const RunError& e) {
    Trap_Error("Moveit", e.Number(), e.Description());
  }
}

}  // namespace vr
