#include "optimise/optimiser_run.h"

#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_display.h"
#include "optimise/optimiser_report.h"
#include "optimise/passes.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"
#include "volume/ui.h"

namespace vr {

namespace {

bool Shared() { return VolumeSession.SharedMode != 0; }
bool Stopped() { return ErrorState.Failed != 0; }

// OptimiserRunning for the length of a run, also when a run-time error
// leaves it.
class RunFlag {
 public:
  RunFlag() { OptimiserRunning = kTrue; }
  ~RunFlag() { OptimiserRunning = 0; }
  RunFlag(const RunFlag&) = delete;
  RunFlag& operator=(const RunFlag&) = delete;
};

// On a volume in use: wait for the file system to release what the moves
// freed, then read the whole bitmap again.
void Refresh() {
  if (!Shared()) return;
  WaitForFlush();
  Refresh_Bitmap();
}

// After a pass on a volume in use: the wait, and the bitmap read again when
// files moved since Mark or postponed moves were given up.
void Settle_After(Long Mark) {
  if (!Shared()) return;
  WaitForFlush();
  if (FilesMoved != Mark || AbandonedDelays != 0) Refresh_Bitmap();
}

// Pack rounds until the postponed moves given up are few; returns whether
// the last round moved files. The unmovable clusters below the floor of the
// last round come back in Unmovable.
bool Pack_Rounds(Long& Unmovable) {
  Long before = 0;
  while (true) {
    before = FilesMoved;
    Long count = 0;
    RemoveHoles(Unmovable, count);
    if (Stopped() || AbandonedDelays < 10) break;
    Refresh();
    if (Stopped()) break;
  }
  return FilesMoved != before;
}

// The defragment phase; with packing, pack rounds make room and the files
// still fragmented get a second chance.
void Defragment_Phase() {
  const Long n0 = FilesMoved;
  DeFragment();
  if (DefragMode <= 0) return;
  Settle_After(n0);
  if (ntfs::FragmentedFiles <= 0 || Stopped()) return;
  Long unmovable = 0;
  const bool moved = Pack_Rounds(unmovable);
  if (Shared()) WaitForFlush();
  if (moved && !Stopped()) {
    if (Shared()) Refresh_Bitmap();
    if (ntfs::FragmentedFiles > 0) {
      const Long n = FilesMoved;
      DeFragment();
      Settle_After(n);
    }
  } else if (AbandonedDelays != 0) {
    Refresh_Bitmap();
  }
}

// The pack phase: pack rounds, then on NTFS the MFT zone cleared when
// something below the floor stays or there is no floor.
void Pack_Phase() {
  Long unmovable = 0;
  const bool moved = Pack_Rounds(unmovable);
  if (VolumeSession.IsNtfs == 0 || Stopped()) return;
  AllocationStateData& a = Allocation;
  if (unmovable == 0 && a.AllocationFloor != 0) return;
  if (Shared()) {
    if (DelayedCount > 0 || moved || AbandonedDelays != 0) Refresh();
  } else {
    Setup_FREE_Segs();
  }
  if (Stopped()) return;
  if (a.AllocationFloor == 0) a.AllocationFloor = a.MftZoneStart + a.MftZoneLength + 1;
  a.AllocationReserveEnd = a.AllocationFloor;
  Pass3();
}

}  // namespace

void DefragPack_All() {
  ClustersMoved = 0;
  ReportLine("");
  const RunFlag running;
  // A view-only run moves nothing; it only re-views the map below.
  const bool optimising = DefragMode >= 0;
  float defragSeconds = 0, packSeconds = 0;

  if (optimising && CheckedScan != 0 && ntfs::FragmentedFiles > 0) {
    const double start = Timer();
    Defragment_Phase();
    defragSeconds = static_cast<float>(Seconds_Since(start));
    if (AnyErrorCounted()) return;
  }
  if (DefragMode > 0 && !Stopped()) {
    const double start = Timer();
    Pack_Phase();
    packSeconds = static_cast<float>(Seconds_Since(start));
  }

  // Whatever stopped the run, the moves made reach the disk now.
  if (Shared() && FilesMoved != 0 && !Commit_Moves()) return;
  if (FilesMoved == 0) {
    if (optimising)
      ReportLine("Moved: None");
    else if (!Stopped())
      ReView(0);
    return;
  }
  WaitForFlush();
  const float seconds = packSeconds + defragSeconds;
  if (!Stopped()) ReView(ViewAfterDefrag);
  Report_Moves(seconds);
  Report_Free_Space();
}

void Pass3() {
  const AllocationStateData& a = Allocation;
  std::vector<Candidate> list;
  for (int64_t r = FirstUserRecord; r <= FragmentState.UBound(); ++r) {
    if (FragmentState(r) > 1 && DoNotMove(r) == 0 && FirstLcn(r) >= a.MftZoneStart &&
        FirstLcn(r) < a.AllocationFloor)
      list.push_back({FirstLcn(r), Long(r)});
  }
  if (list.empty()) return;
  Sort_Candidates(list);
  for (const Candidate& c : list) {
    MainWindow().DoEvents();
    if (Stopped()) return;
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    if (!Prepare_File(c.Record, lengths, lcns, info)) continue;
    Opt_Value(1, FileNames(c.Record));
    if (Defrag_File(c.Record, info, lengths, lcns))
      Opt_Value(2, Str(int64_t{a.FreeCount} - a.FreeCursor));
  }
}

}  // namespace vr
