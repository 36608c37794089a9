// The program's picture of which clusters are in use: the free-space
// segments built from the volume bitmap, the free-space figures, the
// cross-checks of the volume bitmap against the clusters the scan found, and
// the two write-backs of an exclusively locked NTFS volume (bitmap sectors
// and one FILE record).
//
// State used here lives elsewhere: VolumeSession.VolumeBitmap and the MFT
// zone and allocation bounds (volume/session.h); ComputedBitmap and the
// free-segment table FreeStarts/FreeLengths/FreeCount/FreeCursor
// (volume/shared_state.h); MftBitmap and SeenRecords (ntfs/mft.h).
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Clusters of the short gaps (under 16 clusters, ending inside a bitmap
// byte) that Setup_FREE_Segs did not list.
extern Long SmallGapClusters;
// First sector of the $Bitmap file's single run (first cluster x
// SectorsPerCluster); set by the scan when it decodes record 6 on a locked
// volume, 0 when unknown. Save_BitMap writes nothing while it is 0.
extern Long BitmapSector;
// Free clusters of the MFT zone (Count_Used of the zone, taken from its
// length); set by Mft_Zone_Free.
extern Long MftZoneFree;

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

// Number of set bits of Bitmap for items Start .. Start + Length - 1; items
// beyond the bitmap are not counted.
Long Count_Used(const ByteArray& Bitmap, Long Start, Long Length);
// MftZoneFree = MftZoneLength - Count_Used(VolumeBitmap, zone); returns it.
// 0 off NTFS.
Long Mft_Zone_Free();

// Sets the bits of items Start .. Start + Length - 1 in Bitmap. A run that
// leaves the bitmap is a subscript error (9).
void Mark_Used(ByteArray& Bitmap, Long Start, Long Length);
// Sets the bits of clusters Start .. Start + Length - 1 in ComputedBitmap
// when the run is located (Start > 0) and ends inside the bitmap; any other
// run is left out (the bad-cluster runs of $BadClus). Nothing in SharedMode.
void Mark_Run(Long Start, Long Length);
// Mark_Run for every segment 1 .. UBound of Lengths/Lcns.
void Mark_Runs(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns);

// For the bits of byte ByteIndex where VolumeBitmap and ComputedBitmap
// differ: BitsExtra += 1 for a bit set in the volume bitmap only (allocated,
// owned by no decoded file), BitsLess += 1 for one set in the computed bitmap
// only (owned by a file, free in the volume bitmap).
void Differences(Long ByteIndex, Long& BitsExtra, Long& BitsLess);
// Paints and marks the $MFT bitmap attribute's runs as unmovable, then
// compares the two bitmaps byte by byte over the volume's clusters: each
// differing byte gets a black mark on the map and its bits counted. Volume
// held exclusively only.
void Bitmap_Vs_Bitmapx(Long& Excess, Long& Unmarked);
// Bitmap_Vs_Bitmapx and its report: "Bitmap: excess=" (information only) and
// "Bitmap: unmarked=" (an error: ErrorCount set, the run stops).
void Checking_Bitmaps();
// SharedMode: the first record from 16 up that MftBitmap marks in use and the
// scan never reached is the fatal error "Unref. file " & r & " " & name.
void ActiveBitmap_Vs_ActiveBitmapx();

// Writes the VolumeBitmap sectors covering clusters Block .. Top - 1 back to
// the $Bitmap run (one sector per 4096 clusters). Only on a volume held
// exclusively and locked, with BitmapSector known. False when nothing or
// not everything was written; a failed write records "Error writing drive"
// and stops the run.
bool Save_BitMap(Long Block, Long Top);
// Writes File_Buf (SectorsPerFileRecord sectors, update sequence applied,
// i.e. as it lies on the disk) at the place of record RecordNumber in the MFT,
// in two pieces when the record is split over two MFT runs. The record goes
// out under the next update sequence number (File_Buf itself is not
// changed), and a record $MFTMirr keeps a copy of (0 .. 3, or a cluster's
// worth) is written there too, after the $MFT. Refuses (false, error
// recorded, nothing written) a buffer that is not a FILE record ready for the
// disk, a record beyond the MFT, or a mirrored record whose copy the boot
// sector does not place inside the volume. Same volume conditions as
// Save_BitMap.
bool Save_Buf(const ByteArray& File_Buf, Long RecordNumber);

}  // namespace vr
