// The pack pass: the gaps from the start of the allocatable area up, each
// filled with files from further up the disk (the best fit by size class,
// the file right after the gap shifted down, or greedy filling), so the used
// space collects low and the free space high.
#include <cstdint>
#include <vector>

#include "alloc/allocation_state.h"
#include "map/partial_blocks.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_display.h"
#include "optimise/pass_support.h"
#include "optimise/passes.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/session.h"
#include "volume/shared_state.h"
#include "volume/ui.h"

namespace vr {

namespace {

// Moves record R into the gap (index Gap, GapLength clusters at GapStart);
// true when the gap's length changed. A file shifted down from right after
// the gap hands its clusters to the gap, which may keep its length: that
// step then costs the gap's tries like a failed one, which bounds how far
// one gap is shifted along before it is filled greedily.
bool Move_Into_Gap(Long& Gap, Long R, Long& GapLength, Long& GapStart) {
  const Long length = GapLength;
  Moveit(Gap, R, GapLength, GapStart);
  return GapLength != length;
}

// The gap index still names a segment of the table.
bool Gap_Listed(Long Gap) { return Gap >= 1 && Gap <= Allocation.FreeCount; }

}  // namespace

bool Fill_Gap(Long& Gap, Long& GapLength, Long& GapStart, PackClasses& Classes,
              const std::vector<Candidate>& List, Long Minimum) {
  bool moved = false;
  int files = 0;
  while (GapLength > Minimum && Gap_Listed(Gap)) {
    const Long c = Best_Fit(GapLength - Minimum, GapStart, Classes, List, false);
    if (c == 0) break;
    if (Move_Into_Gap(Gap, c, GapLength, GapStart)) moved = true;
    if (++files >= 33) break;
    MainWindow().DoEvents();
    if (ErrorState.Failed != 0) break;
  }
  return moved;
}

void Show_Candidates(const PackClasses& Classes, const std::vector<Candidate>& List,
                     Long GapStart) {
  OptimiserCharts* charts = Optimiser_Charts();
  if (charts == nullptr) return;
  std::vector<int64_t> bytes;
  const int64_t cluster_bytes = int64_t{VolumeSession.SectorsPerCluster.Value()} * 512;
  for (int c = 1; c <= kClassCount; ++c) {
    for (Long k = Classes.ClassHead[c]; k != 0;
         k = Classes.NextCandidate[static_cast<size_t>(k.Value())]) {
      const Long r = List[static_cast<size_t>(k.Value() - 1)].Record;
      if (FirstLcn(r) > GapStart) bytes.push_back(int64_t{ClusterCount(r).Value()} * cluster_bytes);
    }
  }
  charts->ShowSizes(Control::picHistoF, "Candidates", bytes);
}

void Pack_Gaps(Long FirstGap, std::vector<Candidate>& List, Long UnmovableClusters) {
  PackBoundary = Pack_Boundary(UnmovableClusters);
  PackClasses classes;
  Build_Classes(classes, List);
  const Long least = pass::Shared_Ntfs() ? 15 : 0;
  Long mark = FilesMoved + 1;
  Long s = 0;
  for (Long l = FirstGap; l <= Allocation.FreeCount && ErrorState.Failed == 0; ++l) {
    s = Allocation.FreeStarts(l);
    Long g = Allocation.FreeLengths(l);
    if (g > least) {
      Long tries = 0;
      do {
        if (FilesMoved >= mark) {
          Show_Partial_Blocks();
          pass::Gaps_Chart();
          Show_Candidates(classes, List, s);
          mark = FilesMoved + 100;
        }
        // Esc between two files reaches the loop even when no move pumps.
        MainWindow().DoEvents();
        if (ErrorState.Failed != 0) break;
        Long c = 0;
        if (g <= 64) c = Best_Fit(g, s, classes, List, true);
        if (c == 0) c = Shift_Fit(l, List);
        if (c == 0) {
          if (!Fill_Gap(l, g, s, classes, List, least)) break;
        } else if (Move_Into_Gap(l, c, g, s)) {
          tries += 1;
        } else {
          if (DoNotMove(c) != 0) break;
          tries += 8;
        }
        if (ErrorState.Failed != 0 || g <= least || !Gap_Listed(l)) break;
        if (tries > 127) {
          // Many failed moves: fill the gap greedily, first down to half.
          if (g > 127) {
            if (Fill_Gap(l, g, s, classes, List, g / 2)) tries = 0;
            if (ErrorState.Failed != 0 || !Gap_Listed(l)) break;
          }
          if (tries != 0 && !Fill_Gap(l, g, s, classes, List, least)) break;
        }
        // Given-up postponed moves: the run re-reads the bitmap and packs again.
        if (AbandonedDelays > 9) return;
      } while (ErrorState.Failed == 0);
    }
    if (g <= least) Allocation.FreeCursor = l + 1;
  }
  pass::Gaps_Chart();
  Show_Candidates(classes, List, s);
}

void RemoveHoles(Long& UnmovableClusters, Long& UnmovableCount) {
  Opt_Label(1, "Pack:");
  Opt_Label(2, "Gaps:");
  Opt_Value(2, "");
  Opt_Value(1, "");
  UnmovableClusters = 0;
  UnmovableCount = 0;
  try {
    const Long floor = Allocation.AllocationFloor;
    const Long least = pass::Shared_Ntfs() ? 16 : 0;
    Long first = 0;
    for (Long i = 1; i <= Allocation.FreeCount; ++i) {
      if (Allocation.FreeStarts(i) >= floor && Allocation.FreeLengths(i) > least) {
        first = i;
        break;
      }
    }
    if (first == 0) return;
    const Long first_start = Allocation.FreeStarts(first);

    std::vector<Candidate> list;
    for (Long r = FirstUserRecord; r <= FragmentState.UBound(); ++r) {
      if (FragmentState(r) <= 1) continue;
      if (MoveDelayed(r) != 0 || DoNotMove(r) != 0) {
        if (FirstLcn(r) < floor) {
          UnmovableClusters += ClusterCount(r);
          UnmovableCount += 1;
        }
      } else if ((FirstLcn(r) > first_start || FragmentState(r) > 2) &&
                 (PackHugeFiles != 0 || ClusterCount(r) < HugeFileClusters)) {
        list.push_back({FirstLcn(r), r});
      }
    }
    if (!list.empty()) {
      Opt_Value(1, "Sort " + Str(static_cast<int64_t>(list.size()) - 1));
      Sort_Candidates(list);
      Show_Partial_Blocks();
      Pack_Gaps(first, list, UnmovableClusters);
      if (ErrorState.ErrorCount != 0) pass::Pass_Error_Exit("RemoveH", "");
    }
  } catch (const RunError& e) {
    pass::Pass_Error_Exit("RemoveH", e.Description());
  }
}

}  // namespace vr
