#include "alloc/free_segments.h"

#include <algorithm>
#include <cstdint>

#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

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
    Allocation.FreeStarts.ReDim(kFirstRoom);
    Allocation.FreeLengths.ReDim(kFirstRoom);
  }

  void Append(int64_t start, int64_t length, int64_t growth) {
    const FloorSplit split = SplitAtFloor(Long(start), Long(length));
    for (int i = 0; i < split.parts; ++i) Add(split.starts[i], split.lengths[i], growth);
  }

  int64_t Count() const { return n_; }

 private:
  void Add(int64_t start, int64_t length, int64_t growth) {
    ++n_;
    if (n_ > Allocation.FreeStarts.UBound()) {
      Allocation.FreeStarts.ReDimPreserve(Allocation.FreeStarts.UBound() + growth);
      Allocation.FreeLengths.ReDimPreserve(Allocation.FreeLengths.UBound() + growth);
    }
    Allocation.FreeStarts(n_) = Long(start);
    Allocation.FreeLengths(n_) = Long(length);
  }

  int64_t n_ = 0;
};

void BuildFreeSegments() {
  const VolumeSessionData& s = VolumeSession;
  Allocation.FreeCount = 0;
  Allocation.FreeCursor = 0;
  Allocation.SmallGapClusters = 0;
  FreeSegmentBuilder table;
  const bool ntfs = s.IsNtfs != 0;
  const int64_t smallGap = ntfs ? kSmallGap : 0;
  const int64_t total = VolumeClusters();
  // The last byte may stand for fewer than eight clusters; its other bits
  // are no clusters of the volume and never free space.
  const int64_t bytes = (total + 7) / 8;
  const int64_t zoneFirst = Allocation.MftZoneFirstByte;
  const int64_t zoneLast = Allocation.MftZoneLastByte;
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
    const uint8_t b = Allocation.VolumeBitmap(k);
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
            Allocation.SmallGapClusters += Long(c - g);
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
  Allocation.FreeCount = Long(table.Count());
}

}  // namespace

void Setup_FREE_Segs() {
  try {
    BuildFreeSegments();
  } catch (const RunError& e) {
    // A partial table must never be allocated from.
    Allocation.FreeCount = 0;
    Allocation.FreeCursor = 0;
    Trap_Error("Setup_FREE_Segs", e.Number(), e.Description());
  }
}

FloorSplit SplitAtFloor(Long Start, Long Length) {
  const int64_t floor = Allocation.AllocationFloor;
  const int64_t start = Start, end = start + Length.Value();
  if (start < floor && floor < end)
    return {2, {Start, Long(floor)}, {Long(floor - start), Long(end - floor)}};
  return {1, {Start, 0}, {Length, 0}};
}

void Start_Free_Segs(Long Room) {
  AllocationStateData& a = Allocation;
  a.FreeStarts.ReDim(Room);
  a.FreeLengths.ReDim(Room);
  a.FreeCount = 0;
  a.FreeCursor = 0;
  a.SmallGapClusters = 0;
}

void Append_Free_Seg(Long Start, Long Length, Long Grow) {
  AllocationStateData& a = Allocation;
  const Long n = a.FreeCount + 1;
  if (n > a.FreeStarts.UBound()) {
    a.FreeStarts.ReDimPreserve(a.FreeStarts.UBound() + Grow.Value());
    a.FreeLengths.ReDimPreserve(a.FreeLengths.UBound() + Grow.Value());
  }
  a.FreeStarts(n) = Start;
  a.FreeLengths(n) = Length;
  a.FreeCount = n;
}

void End_Free_Segs(Long Cursor) {
  AllocationStateData& a = Allocation;
  a.FreeStarts.ReDimPreserve(a.FreeCount);
  a.FreeLengths.ReDimPreserve(a.FreeCount);
  a.FreeCursor = Cursor;
}

void Free_Run(Long Start, Long N) {
  if (N <= 0) return;
  const int64_t start = Start, end = start + N.Value();
  // First entry that starts at or after the run (binary search).
  int64_t lo = 1, hi = int64_t{Allocation.FreeCount.Value()} + 1;
  while (lo < hi) {
    const int64_t mid = (lo + hi) / 2;
    if (Allocation.FreeStarts(mid) < start) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  const int64_t next = lo, previous = lo - 1;
  const bool joinsPrevious = previous >= 1 && int64_t{Allocation.FreeStarts(previous).Value()} +
                                                      Allocation.FreeLengths(previous).Value() ==
                                                  start;
  const bool joinsNext = next <= Allocation.FreeCount && Allocation.FreeStarts(next) == end;
  if (joinsPrevious) {
    Allocation.FreeLengths(previous) += N;
    if (joinsNext) {  // the run closes the gap between two segments
      Allocation.FreeLengths(previous) += Allocation.FreeLengths(next);
      for (int64_t i = next; i < Allocation.FreeCount; ++i) {
        Allocation.FreeStarts(i) = Allocation.FreeStarts(i + 1);
        Allocation.FreeLengths(i) = Allocation.FreeLengths(i + 1);
      }
      Allocation.FreeCount -= 1;
    }
    return;
  }
  if (joinsNext) {
    Allocation.FreeStarts(next) = Start;
    Allocation.FreeLengths(next) += N;
    return;
  }
  if (Allocation.FreeCount + 1 > Allocation.FreeStarts.UBound() ||
      Allocation.FreeCount + 1 > Allocation.FreeLengths.UBound()) {
    Allocation.FreeStarts.ReDimPreserve(int64_t{Allocation.FreeCount.Value()} + 100);
    Allocation.FreeLengths.ReDimPreserve(int64_t{Allocation.FreeCount.Value()} + 100);
  }
  for (int64_t i = Allocation.FreeCount; i >= next; --i) {
    Allocation.FreeStarts(i + 1) = Allocation.FreeStarts(i);
    Allocation.FreeLengths(i + 1) = Allocation.FreeLengths(i);
  }
  Allocation.FreeStarts(next) = Start;
  Allocation.FreeLengths(next) = N;
  Allocation.FreeCount += 1;
}

void TakeFromSegment(Long K, Long Target, Long N) {
  if (Allocation.FreeStarts(K) == Target) Allocation.FreeStarts(K) += N;
  Allocation.FreeLengths(K) -= N;
}

Long Total_Free() {
  Long clusters = Allocation.SmallGapClusters;
  for (int64_t i = 1; i <= Allocation.FreeCount; ++i) clusters += Allocation.FreeLengths(i);
  return clusters * VolumeSession.SectorsPerCluster;
}

Long Large_Free() {
  const VolumeSessionData& s = VolumeSession;
  const int64_t zoneStart = Allocation.MftZoneStart;
  const int64_t zoneEnd = zoneStart + Allocation.MftZoneLength;
  Long clusters = 0;
  for (int64_t i = 1; i <= Allocation.FreeCount; ++i) {
    const int64_t start = Allocation.FreeStarts(i);
    int64_t length = Allocation.FreeLengths(i);
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
