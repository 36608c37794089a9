// What packing could at best make of the free space of an NTFS volume after
// a run, given the clusters no move request can shift, to set the measured
// largest free extent against.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "support/ntfs_audit.h"

namespace bench {

struct ClusterRange {
  int64_t start = 0;
  int64_t end = 0;  // one past the last cluster
};

struct PackingIdeal {
  int64_t unmovable = 0;  // clusters in use that no move request shifts
  int64_t movable = 0;    // clusters of movable data outside the MFT zone
  int64_t free = 0;       // free clusters outside the MFT zone
  int64_t largest = 0;    // the largest free extent once the movable data lies low
  int64_t dataEnd = 0;    // one past the last cluster the movable data then takes
};

// The clusters of the unnamed data of every file a move request may shift:
// a user file (record 16 on) whose data has clusters, is neither
// compressed, sparse nor encrypted and has no holes, and whose record is not
// in `busy` (files held open, such as the paging file).
std::vector<bool> MovableClusters(const testsupport::VolumeAudit& audit,
                                  const std::set<int64_t>& busy);

// The ideal: every movable cluster outside the MFT zone laid, cluster by
// cluster and without regard to file boundaries, from the lowest free
// cluster outside the MFT zone upwards into the gaps around the unmovable
// clusters; the largest free extent outside the MFT zone that is then left.
// No packing, which moves whole files, can leave a larger one at the low end.
PackingIdeal IdealPacking(const testsupport::VolumeAudit& audit, const std::vector<bool>& movable);

// One past the highest cluster outside the MFT zone that holds movable
// data; 0 when there is none.
int64_t MovableDataEnd(const testsupport::VolumeAudit& audit, const std::vector<bool>& movable);

// The clusters of `runs` as one range from the first to one past the last
// allocated cluster; {0, 0} when there is none.
ClusterRange Span(const std::vector<testsupport::LibntfsRun>& runs);

}  // namespace bench
