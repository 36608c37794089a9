// Keeping the program's picture of the volume in step with the file system
// on a volume in use: the bitmap re-read around a move's target, the whole
// re-read after a batch of moves, the reservations of postponed moves laid
// over what was read, and the volume handle reopened before each read.
#include <algorithm>
#include <cstdint>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "alloc/volume_bitmap.h"
#include "optimise/move_engine.h"
#include "optimise/move_internal.h"
#include "optimise/optimiser_display.h"
#include "platform/nt.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/session.h"
#include "volume/ui.h"

namespace vr {

namespace {

constexpr int64_t kWindowClusters = 32768;  // a bitmap window starts on such a boundary
constexpr int64_t kPieceBytes = 4096;       // and is read in whole pieces of this size
constexpr double kReopenSeconds = 30;
// Pause between two tries to reopen the volume during a run: the window
// keeps working, and the platform's clock (virtual in tests) moves on.
constexpr nt::DWORD kReopenPauseMs = 100;

Long OpenShared() {
  return Open_Drive(VolumeSession.DriveName, kAccessReadWrite,
                    nt::FILE_SHARE_READ | nt::FILE_SHARE_WRITE);
}

// Whether any cluster of Start .. Start + N - 1 lies in a bitmap byte of the
// MFT zone, which the file system keeps for the MFT whatever its bits say.
bool TouchesMftZone(int64_t Start, int64_t N) {
  const AllocationStateData& a = Allocation;
  if (VolumeSession.IsNtfs == 0 || a.MftZoneLength <= 0) return false;
  const int64_t first = int64_t{a.MftZoneFirstByte.Value()} * 8;
  const int64_t end = int64_t{a.MftZoneLastByte.Value()} * 8 + 8;
  return Start < end && Start + N > first;
}

}  // namespace

bool Reopen_Drive() {
  VolumeSessionData& s = VolumeSession;
  // A volume held exclusively keeps its handle and its lock.
  if (s.SharedMode == 0) return true;
  // The new handle is opened before the old one closes, so that the file
  // system keeps the volume (and what it has still to release) meanwhile.
  Long fresh = OpenShared();
  Close_Drive(s.VolumeHandle);
  if (fresh != -1) {
    s.VolumeHandle = fresh;
    return true;
  }
  if (OptimiserRunning != 0) {
    const double start = Timer();
    Opt_Value(1, "Waiting for drive");
    for (;;) {
      MainWindow().DoEvents();
      nt::Sleep(kReopenPauseMs);
      fresh = OpenShared();
      if (fresh != -1) {
        s.VolumeHandle = fresh;
        return true;
      }
      if (AgeOf(start, Timer()) > kReopenSeconds) break;
    }
  }
  ErrorState.ErrorWhere = "ReOpen";
  Set_Error("Drive Busy");
  return false;
}

bool Target_Free(Long Target, Long N) {
  try {
    const int64_t n = Rounded_Clusters(N);
    if (!Reopen_Drive()) return false;
    AllocationStateData& a = Allocation;
    const int64_t target = Target;
    const int64_t windowStart = target / kWindowClusters * kWindowClusters;
    int64_t bytes =
        ((target + n - windowStart + 7) / 8 + kPieceBytes - 1) / kPieceBytes * kPieceBytes;
    bytes = std::min<int64_t>(bytes, static_cast<int64_t>(a.VolumeBitmap.size()) - windowStart / 8);
    if (bytes <= 0) return false;  // the target lies beyond the volume
    Get_Volume_Bitmap(Long(windowStart), Long(bytes), a.VolumeBitmap, Long(windowStart / 8));
    BitmapWindowStart = Long(windowStart);
    BitmapWindowLength = Long(bytes * 8);
    if (AnyErrorCounted()) return false;
    const bool free = Count_Free(Target, Long(n)) == n && !TouchesMftZone(target, n);
    // Measured before the reservations are laid over the fresh bits: a
    // postponed move's retry finds its own reserved target free.
    MapOutDelayedMoves();
    return free;
  } catch (const RunError& e) {
    Trap_Error("Target_Free", e.Number(), e.Description());
    return false;
  }
}

void MapOutDelayedMoves() {
  const int64_t windowStart = BitmapWindowStart;
  const int64_t windowEnd = windowStart + BitmapWindowLength.Value();
  for (int64_t i = 1; i <= DelayedCount; ++i) {
    const Long r = DelayedMoves(i).Record;
    const int64_t start = FirstLcn(r);
    const int64_t end = start + Rounded_Clusters(ClusterCount(r)).Value();
    const int64_t from = std::max(start, windowStart);
    const int64_t to = std::min(end, windowEnd);
    if (to > from) MarkTarget(Long(from), Long(to - from));
  }
}

void Refresh_Bitmap() {
  try {
    if (!Reopen_Drive()) return;
    AllocationStateData& a = Allocation;
    // On a volume held exclusively the program's own bitmap is the volume's.
    if (VolumeSession.SharedMode != 0) {
      Load_Bitmap(VbArray<Long>(0), VbArray<Long>(0));
      if (AnyErrorCounted()) return;
    }
    BitmapWindowStart = 0;
    BitmapWindowLength = Long(static_cast<int64_t>(a.VolumeBitmap.size()) * 8);
    // The reservations first: a postponed move's target is no free space.
    MapOutDelayedMoves();
    Setup_FREE_Segs();
    AbandonedDelays = 0;
  } catch (const RunError& e) {
    Trap_Error("Refresh_Bitmap", e.Number(), e.Description());
  }
}

}  // namespace vr
