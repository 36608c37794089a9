#include "drivers/ntfs/ntfs_driver_move.h"

#include <algorithm>

#include "platform/platform.h"
#include "runtime/bytes.h"

namespace platform {

nt::NTSTATUS ParseMoveRequest(const FsControlRequest& request, NtfsMoveRequest& move) {
  if (request.in == nullptr || request.inSize < 32) return nt::STATUS_INVALID_PARAMETER;
  const vr::Bytes in(static_cast<const uint8_t*>(request.in), request.inSize);
  move.file = static_cast<nt::HANDLE>(vr::I32(in, 0));
  move.startVcn = vr::I64(in, 8);
  move.targetLcn = vr::I64(in, 16);
  move.clusters = vr::U32(in, 24);
  if (move.startVcn < 0 || move.targetLcn < 0) return nt::STATUS_INVALID_PARAMETER;
  return nt::STATUS_SUCCESS;
}

void NtfsMoveRules::Release(int64_t lcn, int64_t count, uint64_t mark) {
  if (count > 0) released_.push_back({lcn, count, ClockMs(), mark});
}

std::vector<NtfsMoveRules::Run> NtfsMoveRules::TakeExpired(uint64_t& mark) {
  const uint64_t now = ClockMs();
  std::vector<Run> runs;
  mark = 0;
  // Released in time order: the expired ones come first.
  size_t n = 0;
  for (; n < released_.size() && Expired(released_[n], now); ++n) {
    runs.push_back({released_[n].lcn, released_[n].count});
    mark = std::max(mark, released_[n].mark);
  }
  released_.erase(released_.begin(), released_.begin() + static_cast<ptrdiff_t>(n));
  return runs;
}

std::vector<NtfsMoveRules::Run> NtfsMoveRules::TakeAll(uint64_t& mark) {
  std::vector<Run> runs;
  mark = 0;
  for (const Released& r : released_) {
    runs.push_back({r.lcn, r.count});
    mark = std::max(mark, r.mark);
  }
  released_.clear();
  return runs;
}

bool NtfsMoveRules::Waiting(int64_t lcn) {
  const uint64_t now = ClockMs();
  return std::any_of(released_.begin(), released_.end(), [&](const Released& r) {
    return !Expired(r, now) && lcn >= r.lcn && lcn < r.lcn + r.count;
  });
}

nt::NTSTATUS NtfsMoveRules::CheckTarget(int64_t lcn, int64_t count, int64_t totalClusters,
                                        const std::function<bool(int64_t)>& inUse) {
  if (lcn < 0 || count <= 0 || lcn > totalClusters - count) return nt::STATUS_INVALID_PARAMETER;
  const uint64_t now = ClockMs();
  for (const Released& r : released_)
    if (!Expired(r, now) && r.lcn < lcn + count && lcn < r.lcn + r.count)
      return nt::STATUS_ALREADY_COMMITTED;
  for (int64_t c = lcn; c < lcn + count; ++c)
    if (inUse(c)) return nt::STATUS_ALREADY_COMMITTED;
  return nt::STATUS_SUCCESS;
}

}  // namespace platform
