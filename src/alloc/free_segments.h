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
// from VolumeSession.VolumeBitmap. The MFT zone is never listed; a gap that
// crosses AllocationFloor is listed as two segments. When an optimisation
// follows (DefragMode >= 0) on a volume in SharedMode, the zone's bytes of
// VolumeBitmap are set to 0xFF. FreeCursor = 0 afterwards.
void Setup_FREE_Segs();

// Free space in sectors: every listed segment plus SmallGapClusters.
Long Total_Free();
// Free space in sectors held in segments of BigFileClusters or more, the MFT
// zone cut out of each segment first. Small free space is Total_Free() -
// Large_Free().
Long Large_Free();

}  // namespace vr
