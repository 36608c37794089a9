// The volume bitmap image: loading it and the MFT zone from the volume, and
// changing its bits, which widens the range a write-back must cover.
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Fills Allocation.VolumeBitmap and VolumeBitmapBytes: through the file
// system in SharedMode, else by reading the $Bitmap file (its segments
// Lengths/Lcns, which must be one) raw. BitmapSector becomes that run's
// first sector when the volume is locked, else 0. The changed range is
// emptied.
void Load_Bitmap(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns);

// The MFT zone from FSCTL_GET_NTFS_VOLUME_DATA (all zeros off NTFS); clears
// the allocation floor when the zone reaches above it. False after
// "Error reading drive".
bool Get_MFT_Zone();

// Sets (Used) or clears the bits of clusters Start .. Start + N - 1 in
// VolumeBitmap and widens the changed range to cover them. A run that leaves
// the bitmap is a subscript error (9) and changes nothing.
void Set_Volume_Bits(Long Start, Long N, bool Used);

// How many clusters from Start are free in VolumeBitmap before the first
// used one, at most N. Clusters past the volume's end, or past the bitmap,
// count as used.
Long Count_Free(Long Start, Long N);

// Save_BitMap wrote the sectors of clusters Block .. Top - 1: the changed
// range is empty again when they covered it.
void Bitmap_Saved(Long Block, Long Top);

// Drops the bitmap image (a view that could not load it).
void Forget_Volume_Bitmap();

}  // namespace vr
