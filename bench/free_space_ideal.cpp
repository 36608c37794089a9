#include "free_space_ideal.h"

#include <algorithm>

namespace bench {

namespace {
bool InMftZone(const testsupport::VolumeAudit& audit, int64_t c) {
  return c >= audit.mftZoneStart && c < audit.mftZoneEnd;
}
}  // namespace

std::vector<bool> MovableClusters(const testsupport::VolumeAudit& audit,
                                  const std::set<int64_t>& busy) {
  std::vector<bool> movable(static_cast<size_t>(audit.totalClusters), false);
  for (const auto& [record, s] : testsupport::FilesByRecord(audit)) {
    if (record < 16 || busy.count(record) != 0 || s->compressed || s->sparse || s->encrypted)
      continue;
    if (std::any_of(s->runs.begin(), s->runs.end(),
                    [](const testsupport::LibntfsRun& r) { return r.lcn < 0; }))
      continue;
    for (const testsupport::LibntfsRun& r : s->runs)
      for (int64_t c = r.lcn; c < r.lcn + r.length && c < audit.totalClusters; ++c)
        movable[static_cast<size_t>(c)] = true;
  }
  return movable;
}

PackingIdeal IdealPacking(const testsupport::VolumeAudit& audit, const std::vector<bool>& movable) {
  PackingIdeal ideal;
  const auto unmovable = [&](int64_t c) {
    return testsupport::ClusterUsed(audit, c) && !movable[static_cast<size_t>(c)];
  };
  for (int64_t c = 0; c < audit.totalClusters; ++c) {
    if (unmovable(c)) ++ideal.unmovable;
    if (InMftZone(audit, c)) continue;
    if (movable[static_cast<size_t>(c)]) ++ideal.movable;
    if (!testsupport::ClusterUsed(audit, c)) ++ideal.free;
  }
  int64_t toLay = ideal.movable, run = 0;
  for (int64_t c = 0; c < audit.totalClusters; ++c) {
    if (InMftZone(audit, c) || unmovable(c)) {
      run = 0;
      continue;
    }
    if (toLay > 0) {
      --toLay;
      ideal.dataEnd = c + 1;
      continue;
    }
    ideal.largest = std::max(ideal.largest, ++run);
  }
  return ideal;
}

int64_t MovableDataEnd(const testsupport::VolumeAudit& audit, const std::vector<bool>& movable) {
  for (int64_t c = audit.totalClusters - 1; c >= 0; --c)
    if (movable[static_cast<size_t>(c)] && !InMftZone(audit, c)) return c + 1;
  return 0;
}

ClusterRange Span(const std::vector<testsupport::LibntfsRun>& runs) {
  ClusterRange span{-1, 0};
  for (const testsupport::LibntfsRun& r : runs) {
    if (r.lcn < 0 || r.length <= 0) continue;
    span.start = span.start < 0 ? r.lcn : std::min(span.start, r.lcn);
    span.end = std::max(span.end, r.lcn + r.length);
  }
  if (span.start < 0) span = {0, 0};
  return span;
}

}  // namespace bench
