// The free-segment table: the volume's free space as the segments the
// optimiser allocates from, built from the volume bitmap, and the free-space
// figures of the summary.
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Free-space segments (clusters, 1-based, ascending by start).
extern VbArray<Long> FreeStarts;
extern VbArray<Long> FreeLengths;
extern Long FreeCount;   // entries in use
extern Long FreeCursor;  // first entry the optimiser has not consumed yet
// Clusters of the short gaps (under 16 clusters, ending inside a bitmap
// byte) that Setup_FREE_Segs did not list.
extern Long SmallGapClusters;

// Rebuilds the free segments (entries 1 .. FreeCount, ascending by start)
// from VolumeSession.VolumeBitmap. The MFT zone is a reservation: its bytes
// are never listed, and the bitmap image is left as read. A gap that
// crosses AllocationFloor is listed as two segments. FreeCursor = 0
// afterwards.
void Setup_FREE_Segs();

// Returns the run Start .. Start + N - 1 to the table: a run that ends where
// a segment starts extends it downward, one that starts where a segment ends
// extends it upward (joined with the next one when they then touch), any
// other is inserted in order. The arrays grow by 100 entries when full.
void Free_Run(Long Start, Long N);

// Takes N clusters at Target from segment K, as an allocation does: the
// segment's start moves up when Target is its start, and its length shrinks
// by N.
void TakeFromSegment(Long K, Long Target, Long N);

// The parts of the run Start .. Start + Length - 1 on either side of
// AllocationFloor: one part, or two when the run crosses the floor.
struct FloorSplit {
  int parts;
  Long starts[2];
  Long lengths[2];
};
FloorSplit SplitAtFloor(Long Start, Long Length);

// Free space in sectors: every listed segment plus SmallGapClusters.
Long Total_Free();
// Free space in sectors held in segments of BigFileClusters or more, the MFT
// zone cut out of each segment first. Small free space is Total_Free() -
// Large_Free().
Long Large_Free();

}  // namespace vr
