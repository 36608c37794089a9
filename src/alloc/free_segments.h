// The free-segment table: the volume's free space as the segments the
// optimiser allocates from, built from the volume bitmap, and the free-space
// figures of the summary.
#pragma once

#include "alloc/allocation_state.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Rebuilds the free segments (entries 1 .. FreeCount, ascending by start)
// from Allocation.VolumeBitmap. The MFT zone is a reservation: its bytes
// are never listed, and the bitmap image is left as read. A gap that
// crosses AllocationFloor is listed as two segments. FreeCursor = 0
// afterwards.
void Setup_FREE_Segs();

// A scan that finds free space by its own means (the FAT scan) builds the
// table through these three: an empty table with room for Room entries,
// each segment appended after the last (the arrays grow by Grow entries when
// full), then the table trimmed to its entries with FreeCursor = Cursor.
void Start_Free_Segs(Long Room);
void Append_Free_Seg(Long Start, Long Length, Long Grow);
void End_Free_Segs(Long Cursor);

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
