// The rules a file move on NTFS follows, kept apart from the moving itself:
// the request's layout, the target-free rule and the flush delay. Clusters
// a move releases stay taken until the delay has passed (NT frees them only
// after its log is flushed), so a move into them is refused with
// STATUS_ALREADY_COMMITTED, as a move onto clusters in use is. The driver
// keeps their bits set in the cluster bitmap until then and clears them
// when it takes them back from here (TakeExpired, TakeAll).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/fs_driver.h"

namespace platform {

// The 32-byte MOVE_FILE_DATA: file handle (4, then 4 of padding), starting
// VCN (8), starting LCN (8), cluster count (4, then 4 of padding).
struct NtfsMoveRequest {
  nt::HANDLE file = 0;
  int64_t startVcn = 0;
  int64_t targetLcn = 0;
  uint32_t clusters = 0;
};

// STATUS_INVALID_PARAMETER for a short or negative request.
nt::NTSTATUS ParseMoveRequest(const FsControlRequest& request, NtfsMoveRequest& move);

class NtfsMoveRules {
 public:
  // Milliseconds released clusters wait (platform clock, ClockMs).
  void SetFlushDelay(uint64_t ms) { delayMs_ = ms; }
  uint64_t FlushDelay() const { return delayMs_; }
  // Clusters a move released, from now on waiting for the delay. `mark`:
  // the device's count of flushes (FlushCountingDevice) once the records
  // that no longer point at them were written.
  void Release(int64_t lcn, int64_t count, uint64_t mark);
  // Whether `lcn` is still waiting to be released.
  bool Waiting(int64_t lcn);
  // STATUS_SUCCESS when `count` clusters from `lcn` lie on the volume
  // (`totalClusters`), are free by `inUse` and none is waiting;
  // STATUS_ALREADY_COMMITTED when one is taken; STATUS_INVALID_PARAMETER
  // when the range leaves the volume.
  nt::NTSTATUS CheckTarget(int64_t lcn, int64_t count, int64_t totalClusters,
                           const std::function<bool(int64_t)>& inUse);
  // Forgets every release (the volume was re-read after an unlock).
  void Clear() { released_.clear(); }

  struct Run {
    int64_t lcn, count;
  };
  // The released runs whose delay has passed, no longer waiting from now
  // on; `mark` is set to the highest mark among them (0 when none).
  std::vector<Run> TakeExpired(uint64_t& mark);
  // Every released run, whatever its age (the volume is about to be locked
  // or the driver goes away: NT flushes its log then).
  std::vector<Run> TakeAll(uint64_t& mark);
  bool Pending() const { return !released_.empty(); }

 private:
  struct Released {
    int64_t lcn, count;
    uint64_t at, mark;
  };
  bool Expired(const Released& r, uint64_t now) const { return now - r.at >= delayMs_; }
  uint64_t delayMs_ = 0;
  std::vector<Released> released_;
};

}  // namespace platform
