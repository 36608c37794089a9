// The move engine's state for one optimiser run, and its small procedures:
// the rounding of a move's reservation, the status text of a move, the MFT
// zone on the map, the stop on a write fault.
#include <algorithm>
#include <cstdint>

#include "alloc/allocation_state.h"
#include "alloc/volume_bitmap.h"
#include "map/map_colors.h"
#include "map/runs.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/move_engine.h"
#include "optimise/move_internal.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

VbArray<DelayedMove> DelayedMoves(0);
Integer DelayedCount;
Long FilesMoved;
Long ClustersMoved;
Integer AbandonedDelays;
Integer OptimiserRunning;
Long BitmapWindowStart;
Long BitmapWindowLength;

namespace {
constexpr int64_t kDelayRoom = 100;
constexpr int64_t kMegabyteSectors = 2047;  // more sectors than this: the size is shown
}  // namespace

void Reset_Move_State() {
  DelayedMoves.ReDim(kDelayRoom);
  DelayedCount = 0;
  FilesMoved = 0;
  ClustersMoved = 0;
  AbandonedDelays = 0;
  OptimiserRunning = 0;
  BitmapWindowStart = 0;
  BitmapWindowLength = 0;
}

Long Rounded_Clusters(Long N) {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0 || s.SharedMode == 0) return N;
  return Long((int64_t{N.Value()} + 15) & ~int64_t{15});
}

std::string Move_Status_Text(Long R) {
  const int64_t sectors =
      int64_t{ClusterCount(R).Value()} * VolumeSession.SectorsPerCluster.Value();
  std::string text = Printable(FileNames(R));
  if (sectors > kMegabyteSectors) text += " (" + SizeText(Long(sectors)) + ")";
  return text;
}

void Show_MFT_Zone() {
  const VolumeSessionData& s = VolumeSession;
  const AllocationStateData& a = Allocation;
  if (s.IsNtfs == 0 || a.MftZoneLength <= 0) return;
  const int64_t first = int64_t{a.MftZoneFirstByte.Value()} * 8;
  const int64_t last =
      std::min<int64_t>(int64_t{a.MftZoneLastByte.Value()} * 8 + 7, int64_t{s.TotalClusters} - 1);
  if (last >= first) Redraw_BBBB(Long(last - first + 1), Long(first), kColorSys);
}

void WriteStop() {
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
  ErrorState.ReadFault = kTrue;
  ErrorState.ErrorText = "Error writing drive";
}

double AgeOf(double Since, double Now) {
  double age = Now - Since;
  if (age < -0.1) age += 86400;
  return age;
}

Integer FileColour(Long R) {
  if (FragmentState(R) > 2) return kColorFrag;
  if ((FileFlags(R) & kFlagCompressed) != 0) return kColorCmprs;
  return kColorFile;
}

Long LowestLcn(const VbArray<Long>& Lcns) {
  if (Lcns.UBound() < 1) return 0;
  Long lowest = Lcns(1);
  for (int64_t i = 2; i <= Lcns.UBound(); ++i) lowest = std::min(lowest, Lcns(i));
  return lowest;
}

void MarkTarget(Long Start, Long N) {
  const int64_t bits = static_cast<int64_t>(Allocation.VolumeBitmap.size()) * 8;
  const int64_t start = std::max<int64_t>(Start, 0);
  const int64_t end = std::min<int64_t>(int64_t{Start.Value()} + N.Value(), bits);
  if (end > start) Set_Volume_Bits(Long(start), Long(end - start), true);
}

void CannotMove(Long R, RecordInfo& Info) {
  DoNotMove(R) = 1;
  if (FragmentState(R) > 2) {
    Info.IsDirectory = Flag((FileFlags(R) & kFlagFolder) != 0);
    List_Unmovable(R, Info);
  }
}

}  // namespace vr
