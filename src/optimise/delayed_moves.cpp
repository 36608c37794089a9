// Postponed moves: a move whose target the file system has not released
// yet waits in a list, its target reserved, and is retried once it is 8
// seconds old; one that still fails 12 seconds after it was put off is
// given up and its reservation freed. WaitForFlush retries them once a
// second until the file system has caught up.
#include <cstdint>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "optimise/move_engine.h"
#include "optimise/move_internal.h"
#include "optimise/optimiser_display.h"
#include "platform/nt.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/ui.h"

namespace vr {

namespace {

constexpr int64_t kDelayGrowth = 100;
constexpr double kRetryAge = 8;     // seconds before a postponed move is tried again
constexpr double kAbandonAge = 12;  // seconds after which it is given up
constexpr int kFlushTicks = 12;     // one-second ticks after the last success

void RemoveEntry(int64_t I) {
  for (int64_t j = I; j < DelayedCount; ++j) DelayedMoves(j) = DelayedMoves(j + 1);
  DelayedCount -= 1;
}

// One try of the oldest entry; false stops the pass over the list.
bool RetryFirst(double Now) {
  const DelayedMove entry = DelayedMoves(1);
  const Long r = entry.Record;
  if (AgeOf(entry.Time, Now) < kRetryAge) return false;  // the later ones are younger
  if (ErrorState.Failed != 0) return false;              // stopped: no further file
  MainWindow().DoEvents();
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  if (!Prepare_File(r, lengths, lcns, info)) {
    // Prepare_File cancels the delay of a file it will not move; one it
    // could not read at all leaves the entry, which goes with its
    // reservation.
    if (DelayedCount >= 1 && DelayedMoves(1).Record == r) Cancel_Delay(r);
    return false;
  }
  MoveDelayed(r) = 0;
  Long count = ClusterCount(r);
  Long target = FirstLcn(r);
  if (Move_File(r, lengths, lcns, count, target, info, 0)) {
    RemoveEntry(1);
  } else if (AgeOf(entry.Time, Timer()) < kAbandonAge) {
    CloseFileHandle(info);
    MoveDelayed(r) = 1;
    return false;  // this entry and the ones after it stay
  } else {
    CloseFileHandle(info);
    Free_Run(FirstLcn(r), ClusterCount(r));
    FirstLcn(r) = LowestLcn(lcns);
    AbandonedDelays += 1;
    RemoveEntry(1);
  }
  return !AnyErrorCounted() && ErrorState.Failed == 0;
}

}  // namespace

void DelayMove(Long R) {
  if (DelayedCount + 1 > DelayedMoves.UBound())
    DelayedMoves.ReDimPreserve(DelayedMoves.UBound() + kDelayGrowth);
  DelayedCount += 1;
  DelayedMoves(DelayedCount) = DelayedMove{R, static_cast<float>(Timer())};
  MoveDelayed(R) = 1;
}

void Cancel_Delay(Long R) {
  for (int64_t i = 1; i <= DelayedCount; ++i) {
    if (DelayedMoves(i).Record != R) continue;
    RemoveEntry(i);
    MoveDelayed(R) = 0;
    Free_Run(FirstLcn(R), ClusterCount(R));
    return;
  }
  // Not in the list: nothing is reserved for it.
  MoveDelayed(R) = 0;
}

void Retry_Delayed(double Now) {
  try {
    while (DelayedCount > 0 && RetryFirst(Now)) {
    }
  } catch (const RunError& e) {
    Trap_Error("Retry_Delayed", e.Number(), e.Description());
  }
}

void WaitForFlush() {
  if (ErrorState.Failed != 0 || DelayedCount == 0) return;
  Opt_Label(1, "Waiting:");
  Opt_Label(2, "Delay:");
  const Long startCount = FilesMoved;
  int ticks = 0;
  while (ticks < kFlushTicks) {
    ticks += 1;
    Opt_Value(2, Str(ticks));
    MainWindow().DoEvents();
    const Long before = FilesMoved;
    // Every entry is due: each tick tries them all.
    Retry_Delayed(Timer() + kRetryAge);
    if (ErrorState.Failed != 0) return;
    if (DelayedCount == 0 && FilesMoved == startCount) return;
    // A success: twelve more ticks may follow this one.
    if (FilesMoved != before) ticks = 0;
    nt::Sleep(1000);
  }
}

}  // namespace vr
