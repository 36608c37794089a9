// Clusters the optimiser must not take although the volume bitmap may call
// them free: the MFT zone, which NTFS keeps for the MFT to grow into, and
// runs a move has given up whose release waits for the file system's flush
// delay. A reservation lives here, never as set bits in the bitmap image, so
// the image stays what the volume says.
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Cluster lies in the MFT zone [MftZoneStart, MftZoneStart + MftZoneLength)
// of an NTFS volume (there is none on FAT).
bool In_Mft_Zone(Long Cluster);

// Cuts the MFT zone out of the run Start .. Start + Length - 1: a run that
// starts inside the zone keeps only its part from the zone's end on, one
// that starts below it only its part up to the zone's start. Length becomes
// 0 when nothing is left.
void Cut_Mft_Zone(Long& Start, Long& Length);

// Frees a moved file's old segments (1 .. UBound of Lengths/Lcns) in the
// program's tables at once: on a volume held exclusively their bits are
// cleared in VolumeBitmap; on NTFS the MFT zone is cut out of each (it
// stays a reservation); what is left goes back to the free-segment table.
void Release_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns);

// A run released by a move, held back until Release_Delayed. While held it
// is neither in the free-segment table nor offered.
void Delay_Release(Long Start, Long Length);
// Clusters held back now.
Long Delayed_Clusters();
// Hands every held run to Free_Run (the MFT zone cut out first) and empties
// the list.
void Release_Delayed();
// Forgets the held runs without freeing them (a new scan rebuilds the table).
void Clear_Delayed();

}  // namespace vr
