#include "alloc/free_segments.h"

#include <algorithm>
#include <cstdint>

#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

VbArray<Long> FreeStarts(0);
VbArray<Long> FreeLengths(0);
Long FreeCount;
Long FreeCursor;
Long SmallGapClusters;

namespace {

constexpr int64_t kFirstRoom = 500;      // free-segment entries reserved at the start
constexpr int64_t kBitPathGrowth = 500;  // growth while testing single bits
constexpr int64_t kByteGrowthCap = 5000;
constexpr int64_t kSmallGap = 16;  // NTFS gaps ending inside a byte below this are not listed

// The clusters the bitmap stands for: whole clusters of the volume.
int64_t VolumeClusters() {
  return int64_t{VolumeSession.TotalSectors.Value()} / VolumeSession.SectorsPerCluster;
}

// Builds the free-segment table; see Setup_FREE_Segs.
class FreeSegmentBuilder {
 public:
  FreeSegmentBuilder() {
    FreeStarts.ReDim(kFirstRoom);
    FreeLengths.ReDim(kFirstRoom);
  }

  void Append(int64_t start, int64_t length, int64_t growth) {
    const FloorSplit split = SplitAtFloor(Long(start), Long(length));
    for (int i = 0; i < split.parts; ++i) Add(split.starts[i], split.lengths[i], growth);
  }

  int64_t Count() const { return n_; }

 private:
  void Add(int64_t start, int64_t length, int64_t growth) {
    ++n_;
    if (n_ > FreeStarts.UBound()) {
      FreeStarts.ReDimPreserve(FreeStarts.UBound() + growth);
      FreeLengths.ReDimPreserve(FreeLengths.UBound() + growth);
    }
    FreeStarts(n_) = Long(start);
    FreeLengths(n_) = Long(length);
  }

  int64_t n_ = 0;
};

void BuildFreeSegments() {
  const VolumeSessionData& s = VolumeSession;
  FreeCount = 0;
  FreeCursor = 0;
  SmallGapClusters = 0;
  FreeSegmentBuilder table;
  const bool ntfs = s.IsNtfs != 0;
  const int64_t smallGap = ntfs ? kSmallGap : 0;
  const int64_t total = VolumeClusters();
  // The last byte may stand for fewer than eight clusters; its other bits
  // are no clusters of the volume and never free space.
  const int64_t bytes = (total + 7) / 8;
  const int64_t zoneFirst = s.MftZoneFirstByte;
  const int64_t zoneLast = s.MftZoneLastByte;
  bool open = false;
  int64_t g = 0;
  int64_t k = 0;
  while (k < bytes) {
    const int64_t base = 8 * k;
    if (ntfs && k == zoneFirst) {
      // The MFT zone is reserved: never free space, whatever its bits say.
      if (open) table.Append(g, base - g, std::min<int64_t>(table.Count() + 1, kByteGrowthCap));
      open = false;
      k = std::max(k, zoneLast) + 1;
      continue;
    }
    const int bits = static_cast<int>(std::min<int64_t>(8, total - base));
    const uint8_t b = s.VolumeBitmap(k);
    if (b == 0xFF) {
      if (open) table.Append(g, base - g, std::min<int64_t>(table.Count() + 1, kByteGrowthCap));
      open = false;
    } else if (b == 0) {
      if (!open) g = base;
      open = true;
    } else {
      for (int bit = 0; bit < bits; ++bit) {
        const int64_t c = base + bit;
        if ((b >> bit) & 1) {
          if (!open) continue;
          open = false;
          if (c - g < smallGap) {
            SmallGapClusters += Long(c - g);
          } else {
            table.Append(g, c - g, kBitPathGrowth);
          }
        } else if (!open) {
          g = c;
          open = true;
        }
      }
    }
    ++k;
  }
  if (open) table.Append(g, total - g, kBitPathGrowth);
  FreeCount = Long(table.Count());
}

}  // namespace

void Setup_FREE_Segs() {
  try {
    BuildFreeSegments();
  } catch (const RunError& e) {
    // A partial table must never be allocated from.
    FreeCount = 0;
    FreeCursor = 0;
    Trap_Error("Setup_FREE_Segs", e.Number(), e.Description());
  }
}

FloorSplit SplitAtFloor(Long Start, Long Length) {
  const int64_t floor = VolumeSession.AllocationFloor;
  const int64_t start = Start, end = start + Length.Value();
  if (start < floor && floor < end)
    return {2, {Start, Long(floor)}, {Long(floor - start), Long(end - floor)}};
  return {1, {Start, 0}, {Length, 0}};
}

void Free_Run(Long Start, Long N) {
  if (N <= 0) return;
  const int64_t start = Start, end = start + N.Value();
  // First entry that starts at or after the run (binary search).
  int64_t lo = 1, hi = int64_t{FreeCount.Value()} + 1;
  while (lo < hi) {
    const int64_t mid = (lo + hi) / 2;
    if (FreeStarts(mid) < start) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  const int64_t next = lo, previous = lo - 1;
  const bool joinsPrevious =
      previous >= 1 &&
      int64_t{FreeStarts(previous).Value()} + FreeLengths(previous).Value() == start;
  const bool joinsNext = next <= FreeCount && FreeStarts(next) == end;
  if (joinsPrevious) {
    FreeLengths(previous) += N;
    if (joinsNext) {  // the run closes the gap between two segments
      FreeLengths(previous) += FreeLengths(next);
      for (int64_t i = next; i < FreeCount; ++i) {
        FreeStarts(i) = FreeStarts(i + 1);
        FreeLengths(i) = FreeLengths(i + 1);
      }
      FreeCount -= 1;
    }
    return;
  }
  if (joinsNext) {
    FreeStarts(next) = Start;
    FreeLengths(next) += N;
    return;
  }
  if (FreeCount + 1 > FreeStarts.UBound() || FreeCount + 1 > FreeLengths.UBound()) {
    FreeStarts.ReDimPreserve(int64_t{FreeCount.Value()} + 100);
    FreeLengths.ReDimPreserve(int64_t{FreeCount.Value()} + 100);
  }
  for (int64_t i = FreeCount; i >= next; --i) {
    FreeStarts(i + 1) = FreeStarts(i);
    FreeLengths(i + 1) = FreeLengths(i);
  }
  FreeStarts(next) = Start;
  FreeLengths(next) = N;
  FreeCount += 1;
}

void TakeFromSegment(Long K, Long Target, Long N) {
  if (FreeStarts(K) == Target) FreeStarts(K) += N;
  FreeLengths(K) -= N;
}

Long Total_Free() {
  Long clusters = SmallGapClusters;
  for (int64_t i = 1; i <= FreeCount; ++i) clusters += FreeLengths(i);
  return clusters * VolumeSession.SectorsPerCluster;
}

Long Large_Free() {
  const VolumeSessionData& s = VolumeSession;
  const int64_t zoneStart = s.MftZoneStart;
  const int64_t zoneEnd = zoneStart + s.MftZoneLength;
  Long clusters = 0;
  for (int64_t i = 1; i <= FreeCount; ++i) {
    const int64_t start = FreeStarts(i);
    int64_t length = FreeLengths(i);
    if (s.IsNtfs != 0) {
      if (start > zoneStart && start < zoneEnd) {
        length = start + length - zoneEnd;
      } else if (start <= zoneStart && start + length > zoneStart) {
        length = zoneStart - start;
      }
    }
    if (length >= BigFileClusters) clusters += Long(length);
  }
  return clusters * s.SectorsPerCluster;
}

}  // namespace vr
