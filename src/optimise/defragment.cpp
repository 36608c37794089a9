// The defragment pass: every movable fragmented file, in disk order, moved
// whole into one free region, big files first in passes of a falling size
// threshold.
#include <cstdint>
#include <vector>

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
constexpr Long kNoneFailed = 2147483647;
}  // namespace

bool Defrag_File(Long Record, RecordInfo& Info, VbArray<Long>& Lengths, VbArray<Long>& Lcns) {
  Long n = 0;
  for (int64_t i = 1; i <= Lengths.UBound(); ++i) n += Lengths(i);
  Long target = 0;
  const Long k = Avail_Block(n, target, FirstLcn(Record));
  if (k != 0) {
    Move_File(Record, Lengths, Lcns, n, target, Info, k);
    return true;
  }
  CloseFileHandle(Info);
  return false;
}

void Show_Fragments(const std::vector<Candidate>& List) {
  OptimiserCharts* charts = Optimiser_Charts();
  if (charts == nullptr) return;
  std::vector<int64_t> bytes;
  const int64_t cluster_bytes = int64_t{VolumeSession.SectorsPerCluster.Value()} * 512;
  for (const Candidate& c : List)
    if (c.Record >= FirstUserRecord && FragmentState(c.Record) > 2)
      bytes.push_back(int64_t{ClusterCount(c.Record).Value()} * cluster_bytes);
  charts->ShowSizes(Control::picHistoF, "Fragments", bytes);
}

void DeFragment() {
  Opt_Label(1, "Defrag:");
  Opt_Label(2, "Frag.Files:");
  Opt_Value(1, "");
  Opt_Value(2, Str(ntfs::FragmentedFiles));
  try {
    std::vector<Candidate> list;
    for (Long r = FirstUserRecord; r <= FragmentState.UBound(); ++r)
      if (MoveDelayed(r) == 0 && DoNotMove(r) == 0 && FragmentState(r) > 2)
        list.push_back({FirstLcn(r), r});
    if (list.empty()) return;
    Opt_Value(1, "Sort " + Str(static_cast<int64_t>(list.size()) - 1));
    Sort_Candidates(list);

    Long limit = First_Threshold();
    Long smallest_failed = kNoneFailed;
    Integer pass = 0;
    VbArray<Long> lengths, lcns;
    RecordInfo info;
    while (limit != 0) {
      Long mark = FilesMoved;
      for (const Candidate& c : list) {
        if (FilesMoved >= mark) {
          pass::Gaps_Chart();
          Show_Fragments(list);
          Show_Partial_Blocks();
          mark = FilesMoved + 100;
        }
        MainWindow().DoEvents();
        if (ErrorState.Failed != 0) return;
        const Long r = c.Record;
        if (!Defrag_Tries(r, limit, smallest_failed)) continue;
        bool no_room = false;
        if (Prepare_File(r, lengths, lcns, info)) {
          Opt_Value(2, Str(ntfs::FragmentedFiles));
          if (Defrag_File(r, info, lengths, lcns)) {
            smallest_failed = kNoneFailed;
          } else {
            if (ClusterCount(r) < smallest_failed) smallest_failed = ClusterCount(r);
            no_room = true;
          }
        }
        if (ErrorState.ErrorCount != 0) {
          pass::Pass_Error_Exit("Defrag", "");
          return;
        }
        // Above the last threshold a file without room ends the pass.
        if (no_room && limit != 1) break;
      }
      pass::Gaps_Chart();
      limit = Next_Threshold(limit, pass);
    }
    pass::Gaps_Chart();
    Show_Fragments(list);
  } catch (const RunError& e) {
    pass::Pass_Error_Exit("Defrag", e.Description());
  }
}

}  // namespace vr
