#include "map/runs.h"

#include <algorithm>
#include <cstdint>

#include "map/paint.h"
#include "runtime/bytes.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

using Painter = void (*)(Long, Integer);

// Paints Start .. Start + Length - 1, leaving out the clusters outside 0 ..
// Last (they lie in no box; dropping them keeps the set of boxes painted).
// A run of no clusters paints nothing.
void Paint_Run(Long Start, Long Length, Integer Colour, Painter Paint, int64_t Last) {
  if (Length <= 0) return;
  const int64_t first = std::max<int64_t>(Start.Value(), 0);
  const int64_t end = std::min<int64_t>(int64_t{Start.Value()} + Length.Value() - 1, Last);
  if (first > end) return;
  const int64_t step = std::max<int64_t>(ClustersPerBox.Value(), 1);
  for (int64_t c = first; c <= end; c += step) Paint(Long(c), Colour);
  Paint(Long(end), Colour);
}

int64_t LastNtfsCluster() { return int64_t{VolumeSession.TotalClusters.Value()} - 1; }

// The last cluster of the last box BoxColors holds.
int64_t LastFatCluster() { return (BoxColors.UBound() + 1) * int64_t{ClustersPerBox.Value()} - 1; }

void Paint_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Starts, Integer Colour,
                    Painter Paint, int64_t Last) {
  for (int64_t i = 1; i <= Lengths.UBound(); ++i)
    if (Lengths(i) != 0) Paint_Run(Starts(i), Lengths(i), Colour, Paint, Last);
}

}  // namespace

void Redraw_BBBB(Long OLen, Long OBlk, Integer Kolor) {
  Paint_Run(OBlk, OLen, Kolor, Paint_Cluster, LastNtfsCluster());
}

void Redraw_XXXX(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns, Integer Kolor) {
  Paint_Segments(Lengths, Lcns, Kolor, Paint_Cluster, LastNtfsCluster());
}

void FAT_Redraw_BBBB(Long OLen, Long OSec, Integer Kolor) {
  // Cluster 2 starts after the reserved sectors, the FAT copies and the root
  // directory.
  const Long reserved = U16(VolumeSession.BootSector.Span(), 0x0E);
  const Long first =
      (OSec - reserved - VolumeSession.SystemSectors) / VolumeSession.SectorsPerCluster + 2;
  const Long count = OLen / 512 / VolumeSession.SectorsPerCluster;
  Paint_Run(first, count, Kolor, FAT_Paint_Cluster, LastFatCluster());
}

void FAT_Redraw_XXXX(const VbArray<Long>& Lengths, const VbArray<Long>& Starts, Integer Kolor) {
  Paint_Segments(Lengths, Starts, Kolor, FAT_Paint_Cluster, LastFatCluster());
}

}  // namespace vr
