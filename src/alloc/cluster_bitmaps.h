// The computed bitmap (one bit per cluster of every located segment of the
// decoded files) and the bit operations on cluster bitmaps: counting and
// marking runs, and the free clusters of the MFT zone.
#pragma once

#include <cstdint>

#include "alloc/allocation_state.h"
#include "alloc/cluster_claims.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Number of set bits of Bitmap for items Start .. Start + Length - 1; items
// beyond the bitmap are not counted.
Long Count_Used(const ByteArray& Bitmap, Long Start, Long Length);
// MftZoneFree = MftZoneLength - Count_Used(VolumeBitmap, zone); returns it.
// 0 off NTFS.
Long Mft_Zone_Free();

// Sets the bits of items Start .. Start + Length - 1 in Bitmap. A run that
// leaves the bitmap is a subscript error (9).
void Mark_Used(ByteArray& Bitmap, Long Start, Long Length);
// Claims clusters Start .. Start + Length - 1 in ComputedBitmap (Claim_Run:
// the cross-link test) when the run is located (Start > 0) and ends inside
// the bitmap; any other run is left out (the bad-cluster runs of $BadClus)
// and gives kClaimFree. Returns the first cluster some owner claimed before,
// else kClaimFree. Nothing in SharedMode.
int64_t Mark_Run(Long Start, Long Length);
// Mark_Run for every segment 1 .. UBound of Lengths/Lcns; the first cluster
// claimed before, else kClaimFree.
int64_t Mark_Runs(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns);

// Claims every segment 1 .. UBound of one decoded record in ComputedBitmap,
// as the scan does for each file it paints, with the cross-link test.
// Returns the first cluster some owner claimed before, kClaimOutside for a
// segment beyond the bitmap, else kClaimFree (alloc/cluster_claims.h). In
// SharedMode the computed bitmap serves the cross-link test only, and only
// when it is sized; a segment beyond it is not reported there.
int64_t Mark_Segments_Used(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns);

}  // namespace vr
