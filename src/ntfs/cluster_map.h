// The cross-checks of the volume bitmap against the clusters the scan found,
// and the two write-backs of an exclusively locked NTFS volume (bitmap
// sectors and one FILE record).
//
// State used here lives elsewhere: the volume and computed bitmaps, the MFT
// zone, BitmapSector and the procedures that load and mark them are the
// allocation layer's (alloc/); MftBitmap and SeenRecords (ntfs/mft.h).
#pragma once

#include "alloc/cluster_bitmaps.h"
#include "alloc/free_segments.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

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
// "Bitmap: unmarked=" (an error: ErrorCount set, the run stops). In
// SharedMode, against the bitmap the file system returned, only "unmarked"
// is reported: the file system moves clusters into what its bitmap calls
// free, so a cluster a file uses but the bitmap calls free could be
// overwritten; clusters the bitmap holds beyond the scan's may belong to
// files other programs are writing.
void Checking_Bitmaps();
// SharedMode: the first record from 16 up that MftBitmap marks in use and the
// scan never reached is the fatal error "Unref. file " & r & " " & name.
void ActiveBitmap_Vs_ActiveBitmapx();

// Writes the VolumeBitmap sectors covering clusters Block .. Top - 1 back to
// the $Bitmap run (one sector per 4096 clusters). Only on a volume held
// exclusively and locked, with BitmapSector known. False when nothing or
// not everything was written; a failed write records "Error writing drive"
// and stops the run. A write that covered the changed range empties it.
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
