// The pack pass's choice of files: size classes and their lists, the
// free-neighbour count Q, the best fit for a gap and the shift of the file
// that follows a gap, and the boundary below which files count as packed.
#include <algorithm>
#include <cstdint>

#include "alloc/allocation_state.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/pass_support.h"
#include "optimise/passes.h"
#include "volume/file_table.h"
#include "volume/session.h"

namespace vr {

Long PackBoundary;

namespace {

constexpr Long kLargest = 2147483647;

// Rounds a gap down to whole units of 16 clusters on a volume in use on NTFS.
Long Usable(Long Clusters) { return pass::Shared_Ntfs() ? Long(Clusters & ~15) : Clusters; }

// Cluster C is inside the volume and free in VolumeBitmap; the clusters
// before the first and after the last count as used.
bool Cluster_Free(int64_t C) {
  if (C < 0 || C >= VolumeSession.TotalClusters) return false;
  const int64_t byte = C / 8;
  if (byte >= Allocation.VolumeBitmapBytes || byte > Allocation.VolumeBitmap.UBound()) return false;
  return ((Allocation.VolumeBitmap(byte) >> (C % 8)) & 1) == 0;
}

bool Skipped(Long R) { return DoNotMove(R) != 0 || MoveDelayed(R) != 0; }

// Unlinks candidate Current of class Class; Previous is the candidate before
// it in the list (0: Current is the head).
void Take_Candidate(PackClasses& Classes, int Class, Long Previous, Long Current) {
  const Long next = Classes.NextCandidate[static_cast<size_t>(Current.Value())];
  if (Previous == 0)
    Classes.ClassHead[Class] = next;
  else
    Classes.NextCandidate[static_cast<size_t>(Previous.Value())] = next;
  Classes.NextCandidate[static_cast<size_t>(Current.Value())] = 0;
}

}  // namespace

int Size_Class(const PackClasses& Classes, Long N) {
  if (N <= 64) return std::max<int>(N, 1);
  for (int c = 65; c <= 82; ++c)
    if (Classes.ClassSize[c] >= N) return c;
  return kClassCount;
}

void Build_Classes(PackClasses& Classes, const std::vector<Candidate>& List) {
  for (int c = 1; c <= 64; ++c) Classes.ClassSize[c] = c;
  Long size = 128;
  for (int c = 65; c <= 82; ++c) {
    Classes.ClassSize[c] = size;
    if (c < 82) size = size * 2;
  }
  Classes.ClassSize[kClassCount] = kLargest;
  Classes.ClassSize[0] = 0;
  std::fill(std::begin(Classes.ClassHead), std::end(Classes.ClassHead), Long(0));
  Classes.NextCandidate.assign(List.size() + 1, Long(0));
  // Pushed in ascending order onto the front: each list runs from the
  // highest FirstLcn down.
  for (size_t k = 0; k < List.size(); ++k) {
    const int c = Size_Class(Classes, ClusterCount(List[k].Record));
    Classes.NextCandidate[k + 1] = Classes.ClassHead[c];
    Classes.ClassHead[c] = Long(static_cast<int64_t>(k + 1));
  }
}

Long Pack_Boundary(Long UnmovableClusters) {
  if (VolumeSession.IsNtfs == 0) return 0;
  const Long used =
      VolumeSession.TotalClusters - VolumeSession.FreeClusters - ClusterCount(5) - ClusterCount(2);
  Long end = used + Allocation.AllocationFloor - UnmovableClusters;
  if (end > VolumeSession.TotalClusters / 2) end += ClusterCount(2);
  return end - used / 10;
}

int Q(Long Start, Long Length) {
  const int64_t start = Start;
  return (Cluster_Free(start - 1) ? 1 : 0) + (Cluster_Free(start + Length.Value()) ? 1 : 0);
}

Long Best_Fit(Long Space, Long GapStart, PackClasses& Classes, const std::vector<Candidate>& List,
              bool Exact) {
  if (pass::Shared_Ntfs()) {
    if (Space < 16) return 0;
    Space = Usable(Space);
  }
  const int first = Size_Class(Classes, Space);
  const int most_taken = ntfs::FragmentedFiles == 0 ? 16 : 4;
  Long best = 0;
  int best_q = 0, taken = 0, rejected = 0;
  int best_class = 0;
  Long best_previous = 0, best_current = 0;
  for (int c = first; c >= 1 && best_current == 0; --c) {
    Long previous = 0;
    for (Long k = Classes.ClassHead[c]; k != 0;
         previous = k, k = Classes.NextCandidate[static_cast<size_t>(k.Value())]) {
      const Long r = List[static_cast<size_t>(k.Value() - 1)].Record;
      if (Skipped(r)) continue;
      // Only files above the gap and above the packed part are taken.
      if (FirstLcn(r) <= PackBoundary || FirstLcn(r) <= GapStart) break;
      const Long size = ClusterCount(r);
      if (size > Space) continue;
      const int q = Q(FirstLcn(r), size);
      if (size > best || (size == best && q > best_q)) {
        best = size;
        best_q = q;
        best_class = c;
        best_previous = previous;
        best_current = k;
        if (++taken >= most_taken || q == 2) break;
      } else if (++rejected >= 10) {
        break;
      }
    }
  }
  if (best_current == 0 || (Exact && best != Space)) return 0;
  Take_Candidate(Classes, best_class, best_previous, best_current);
  return List[static_cast<size_t>(best_current.Value() - 1)].Record;
}

Long Shift_Fit(Long Gap, const std::vector<Candidate>& List) {
  const Long count = Allocation.FreeCount;
  if (Gap < 1 || Gap >= count) return 0;  // the last gap has no file after it
  const Long length = Allocation.FreeLengths(Gap);
  const Long room = Usable(length);
  if (room < 1) return 0;
  const Long end = Allocation.FreeStarts(Gap) + length;
  const Long next = Allocation.FreeStarts(Gap + 1);
  const Long run = next - end;
  if (length < run / 10) return 0;
  const auto found = std::lower_bound(List.begin(), List.end(), end,
                                      [](const Candidate& c, Long key) { return c.Key < key; });
  if (found == List.end() || found->Key != end) return 0;
  const Long c = found->Record;
  if (Skipped(c) || FirstLcn(c) != end || ClusterCount(c) > room || c < FirstUserRecord) return 0;
  // Each further file before the next gap needs that gap to be larger.
  Long ratio = run > 0 ? Long(Allocation.FreeLengths(Gap + 1) / run) : kLargest;
  for (auto it = found + 1; it != List.end() && it->Key < next; ++it) {
    if (ratio < 2) return 0;
    ratio -= 1;
  }
  return c;
}

}  // namespace vr
