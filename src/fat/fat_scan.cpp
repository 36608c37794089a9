#include "fat/fat_scan.h"

#include <cstdio>
#include <vector>

#include "alloc/free_segments.h"
#include "fat/fat_chain.h"
#include "fat/fat_file_table.h"
#include "fat/fat_table.h"
#include "map/map_colors.h"
#include "map/paint.h"
#include "map/runs.h"
#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::fat {

namespace {

constexpr Long kFirstBadOrReserved = 0xFFF0;
constexpr Long kLastBadOrReserved = 0xFFF7;
// A chain of more fragments than this is not walked further.
constexpr int32_t kFragmentLimit = 32760;
// Room the free-segment table starts with and grows by at most.
constexpr int64_t kFreeRoom = 5000;

// A fault of `Fragmented`: the source says who was walking the chain.
[[noreturn]] void ChainWalkFault(const std::string& text) {
  if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = text;
  if (OptimiserRunning != 0) {
    ErrorState.ErrorWhere = "Defrag/Pack";
  } else {
    ErrorState.ErrorWhere = "ViewMap";
    ErrorState.RecordFault = kTrue;
  }
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
  throw RunError(kErrFatStructure, ErrorState.ErrorText);
}

}  // namespace

void Fat_Fault(const std::string& Text, const std::string& Where) {
  ErrorState.ErrorText = Text;
  ErrorState.ErrorWhere = Where;
  ErrorState.RecordFault = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
  throw RunError(kErrFatStructure, Text);
}

std::string Hex(int64_t Value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(Value));
  return text;
}

void FAT_Marks() {
  Successor.ReDim(MaxCluster);
  for (Long i = 2; i <= MaxCluster; ++i) {
    const Long next = Fat_Next(i);
    if (next >= kFirstBadOrReserved || next == kFatFree) continue;
    // Cluster 1 is no data cluster either: an entry naming it is as damaged
    // as one naming a cluster past the volume.
    if (next > MaxCluster || next < 2) Fat_Fault("Bad cluster=" + Hex(next), "FAT_Marks");
    if (Successor(next) != 0) Fat_Fault("Crosslinked files", "FAT_Marks");
    Successor(next) = 1;
  }
}

namespace {

// Clusters in use that no chain head leads to: with at most one entry
// pointing at each cluster (FAT_Marks), they can only form circles, each a
// chain no directory entry can own. Each circle is counted as one more
// chain, so that the entries and the chains disagree and the scan stops.
Long Headless_Circles(std::vector<uint8_t>& reached) {
  Long circles = 0;
  for (Long c = 2; c <= MaxCluster; ++c) {
    if (reached[static_cast<size_t>(c.Value())] != 0 || Fat_Next(c) == kFatFree) continue;
    if (Successor(c) == 0) continue;  // a head: a reserved or bad mark
    circles += 1;
    for (Long k = c, steps = 0; k >= 2 && k <= MaxCluster && steps <= MaxCluster; ++steps) {
      if (reached[static_cast<size_t>(k.Value())] != 0) break;
      reached[static_cast<size_t>(k.Value())] = 1;
      FAT_Paint_Cluster(k, kColorFrag);
      k = Fat_Next(k);
    }
  }
  return circles;
}

}  // namespace

Long Chain_Pass() {
  Long c = 2;
  Long chains = 0;
  VbArray<Long> lengths, starts;
  std::vector<uint8_t> reached(static_cast<size_t>(MaxCluster.Value()) + 1, 0);
  while (c <= MaxCluster) {
    const Long entry = Fat_Next(c);
    if (Successor(c) == 0 && entry != kFatFree) {
      if (entry >= kFirstBadOrReserved && entry <= kLastBadOrReserved) {
        FAT_Paint_Cluster(c, kColorBad);
      } else {
        const Long n = FAT_Chain(c, lengths, starts);
        if (ErrorState.Failed != 0) return chains;
        const bool oneSegment = lengths.UBound() == 1;
        Integer colour = kColorFrag;
        if (oneSegment)
          colour = n > BigFileClusters ? kColorBigFile : kColorFile;
        else
          FragChains += 1;
        FAT_Redraw_XXXX(lengths, starts, colour);
        for (int64_t k = 1; k <= lengths.UBound(); ++k)
          for (Long x = starts(k); x < starts(k) + lengths(k); ++x)
            reached[static_cast<size_t>(x.Value())] = 1;
        chains += 1;
        // A contiguous chain holds no other head: go on after its end.
        if (oneSegment) c = c + n - 1;
      }
    }
    c += 1;
  }
  return chains + Headless_Circles(reached);
}

void FAT_FREE_Segs() {
  Start_Free_Segs(Long(kFreeRoom));
  Long gap = 0;  // first cluster of the open run of free entries; 0: none
  // A full table grows by the clusters still to scan, at most kFreeRoom.
  auto append = [&](Long start, Long length, Long next) {
    int64_t grow = static_cast<int64_t>(MaxCluster) - next + 1;
    if (grow > kFreeRoom) grow = kFreeRoom;
    if (grow < 1) grow = 1;
    Append_Free_Seg(start, length, Long(grow));
  };
  for (Long c = 2; c <= MaxCluster; ++c) {
    if (Fat_Next(c) == kFatFree) {
      if (gap == 0) gap = c;
    } else if (gap != 0) {
      append(gap, c - gap, c);
      gap = 0;
    }
  }
  if (gap != 0) append(gap, MaxCluster - gap + 1, MaxCluster);
  End_Free_Segs(1);
}

Long Fat_Total_Free() {
  Long clusters = 0;
  for (Long i = 1; i <= Allocation.FreeCount; ++i) clusters += Allocation.FreeLengths(i);
  return clusters * VolumeSession.SectorsPerCluster;
}

Long Fat_Large_Free() {
  Long clusters = 0;
  for (Long i = 1; i <= Allocation.FreeCount; ++i)
    if (Allocation.FreeLengths(i) >= BigFileClusters) clusters += Allocation.FreeLengths(i);
  return clusters * VolumeSession.SectorsPerCluster;
}

Integer Fragmented(Long Start, Long& Blks) {
  Blks = 0;
  try {
    if (Start == 0) return 0;
    if (Start > MaxCluster || Start < 2) ChainWalkFault("Invalid cluster");
    int32_t fragments = 1;
    Long c = Start;
    for (;;) {
      Blks += 1;
      // More clusters than the volume has: the chain runs in a circle.
      if (Blks > MaxCluster) ChainWalkFault("Invalid chain");
      const Long next = Fat_Next(c);
      if (next >= kFatEnd) break;
      if (next == kFatFree || next > MaxCluster || next < 2) ChainWalkFault("Invalid cluster");
      if (next != c + 1 && ++fragments > kFragmentLimit) {
        Blks = -Blks;
        ChainWalkFault("Too many chains");
      }
      c = next;
    }
    return Integer(fragments > 255 ? 255 : fragments);
  } catch (const RunError& e) {
    if (e.Number() == kErrFatStructure) throw;
    ChainWalkFault(e.Description());
  }
}

void Mark_Chain(Long Cluster, Integer Color) {
  Long c = Cluster;
  if (c < 0 && c >= -32768) c = c + 65536;  // a 16-bit start cluster read unsigned
  if (c <= 0) return;
  Long painted = 0;
  while (c <= MaxCluster && c >= 2) {
    FAT_Paint_Cluster(c, Color);
    painted += 1;
    if (painted > MaxCluster) Fat_Fault("Invalid chain", "MarkChain");  // a circle
    const Long next = Fat_Next(c);
    if (next > kLastBadOrReserved) return;
    c = next;
  }
  Fat_Fault("Bad cluster=" + Hex(c), "MarkChain");
}

Integer Check_Start(Long Start) {
  if (Start == 0) return kFalse;
  return Flag(Successor(Start) != 0 || Fat_Next(Start) == kFatFree);
}

}  // namespace vr::fat
