// The volume's allocation state, with one owner: the volume bitmap as read
// from the volume and the range of it changed since the last write-back, the
// computed bitmap of the clusters the scan found owned, the free-segment
// table the optimiser allocates from, and the reservations (the MFT zone and
// the allocation floor, the runs whose release waits for the flush delay).
// Only the procedures of this folder change it; the scans, the map and the
// charts read it.
#pragma once

#include <vector>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// A run of clusters held back from the free-segment table.
struct HeldRun {
  Long start, length;
};

struct AllocationStateData {
  // The volume bitmap as the volume reports it (bit k of byte n: cluster
  // 8n + k, set = in use), and the bytes of it that stand for clusters.
  ByteArray VolumeBitmap;
  Long VolumeBitmapBytes;
  // First sector of the $Bitmap file's single run on a volume held
  // exclusively and locked; 0 when unknown (nothing may be written back).
  Long BitmapSector;
  // Clusters ChangedFirst .. ChangedEnd - 1 of VolumeBitmap differ from the
  // disk; empty when ChangedEnd <= ChangedFirst.
  Long ChangedFirst;
  Long ChangedEnd;

  // One bit per cluster for every located segment of the decoded files; not
  // kept in SharedMode.
  ByteArray ComputedBitmap = ByteArray(0);

  // Free-space segments (clusters, 1-based, ascending by start).
  VbArray<Long> FreeStarts = VbArray<Long>(0);
  VbArray<Long> FreeLengths = VbArray<Long>(0);
  Long FreeCount;   // entries in use
  Long FreeCursor;  // first entry the optimiser has not consumed yet
  // Clusters of the short gaps (under 16 clusters, ending inside a bitmap
  // byte) that Setup_FREE_Segs did not list.
  Long SmallGapClusters;

  // The MFT zone from the volume-data query: its start rounded down to a
  // multiple of 8, its length, and its first and last VolumeBitmap bytes.
  // All 0 off NTFS.
  Long MftZoneStart;
  Long MftZoneLength;
  Long MftZoneFirstByte;
  Long MftZoneLastByte;
  Long MftZoneFree;  // free clusters of the zone (Mft_Zone_Free)
  // NTFS allocations stay above AllocationFloor up to AllocationReserveEnd
  // (one eighth of the volume and a reserve above it); 0 off NTFS.
  Long AllocationFloor;
  Long AllocationReserveEnd;

  // Runs released by moves, held back until Release_Delayed.
  std::vector<HeldRun> DelayedReleases;
};

extern AllocationStateData Allocation;

// Forgets the whole allocation state (the start of a command, a test).
void Reset_Allocation();

// Forgets everything a volume command leaves behind: the volume session, the
// error state, the allocation state, the command flags (a view: -1, -1) and
// the block map (the start-up grid, one cluster per box, no colours). Each
// test of an engine starts from it.
void Reset_Volume_State();

// Sets AllocationFloor to one eighth of the volume and AllocationReserveEnd
// 50,000 sectors above it (NTFS), as a scan does before asking for the MFT
// zone; both 0 when Ntfs is false.
void Set_Allocation_Floor(bool Ntfs);

// Sizes ComputedBitmap like VolumeBitmap: cleared when Keep is false, else
// keeping the marks made so far (the reload after a walk).
void Size_Computed_Bitmap(bool Keep);
// Lets both bitmaps go (the map window's closing step).
void Free_Bitmaps();

}  // namespace vr
