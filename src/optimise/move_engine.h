// The move engine: relocates one file of the volume in the map window to a
// chosen run of free clusters and keeps the program's picture of the volume
// (volume bitmap, free segments, file-table columns, block map) in step with
// what happened on disk. On a volume in use the file system moves the
// clusters (FSCTL_MOVE_FILE); it may refuse a target whose clusters it has
// not released yet, and the engine then postpones the move and retries it.
// The engine never decides which file moves: the passes do.
#pragma once

#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// A postponed move: the file's record and the Timer() second it was put off.
struct DelayedMove {
  Long Record;
  float Time;
};

// State of one optimiser run (one volume at a time).
extern VbArray<DelayedMove> DelayedMoves;  // 1-based, DelayedCount in use
extern Integer DelayedCount;
extern Long FilesMoved;          // move requests carried out
extern Long ClustersMoved;       // clusters they moved
extern Integer AbandonedDelays;  // postponed moves given up since Refresh_Bitmap
// Set while DefragPack_All runs: Reopen_Drive then waits for the volume.
extern Integer OptimiserRunning;
// The part of VolumeBitmap Target_Free last re-read, in clusters.
extern Long BitmapWindowStart;
extern Long BitmapWindowLength;

// The map window's load: no moves, no delays (room for 100), no run.
void Reset_Move_State();

// Clusters a move reserves: N rounded up to a multiple of 16 on a volume in
// use on NTFS (the file system allocates in such units there), else N.
Long Rounded_Clusters(Long N);

// Chooses a free segment for Needed clusters above Lo (see the NTFS floor
// rules); Target becomes where the file goes. Returns the segment's index,
// 0 when none is long enough.
Long Avail_Block(Long Needed, Long& Target, Long Lo);
// Avail_Block, then takes the region from its segment and marks it used in
// VolumeBitmap. True when a region was found.
bool Allocate_Only(Long Needed, Long& Target, Long Lo);

// Reads record R's current segments (through the file system on a volume
// in use, which opens the file into Info.FileHandle) and refreshes its
// file-table columns. True when the file may be moved now; the file then
// stays open until Move_File (or CloseFileHandle when it is not moved).
// A file another program holds open now is not moved: it becomes DoNotMove
// and, when fragmented, is listed, without an error.
bool Prepare_File(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info);
// Closes the file Prepare_File opened, if any (Info.FileHandle becomes -1).
void CloseFileHandle(RecordInfo& Info);

// Moves record R (segments Lengths/Lcns, Count clusters) to Target; K is the
// free segment the target was taken from (0: a retry of a postponed move).
// True when the file moved or its move was postponed. Always closes the
// file. A file the file system will not move (compressed, sparse, no room
// for its run list, ...) becomes DoNotMove and is listed when fragmented;
// a status that means the volume is failing ends in "Drive status". A file
// whose move is postponed (MoveDelayed) moves by its retry only: False. On
// a volume held exclusively nothing is written yet: an error says so.
bool Move_File(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, Long& Count, Long& Target,
               RecordInfo& Info, Long K);
// FAT on a volume in use: the move as 64 KB requests. Returns the status.
uint32_t Move_Chunks(Long FileHandle, Long Target, Long Count);

// The pack pass's step: moves record R into the gap at GapStart (segment K)
// and follows the gap table to where that gap now is.
void Moveit(Long& K, Long R, Long& GapLength, Long& GapStart);

// The postponed-move list.
void DelayMove(Long R);
void MapOutDelayedMoves();
void Retry_Delayed(double Now);
void Cancel_Delay(Long R);
// Waits (one-second ticks, at most 12 after the last success) for the file
// system to release what moves freed, retrying the postponed moves.
void WaitForFlush();

// Re-reads the bitmap around the target and says whether N clusters from
// Target are free.
bool Target_Free(Long Target, Long N);
// Re-reads the whole volume bitmap and rebuilds the free segments.
void Refresh_Bitmap();
// Closes and reopens the volume handle; during a run waits up to 30 s for
// the volume. False after "ReOpen" / "Drive Busy".
bool Reopen_Drive();

// Paints the MFT zone in the "Sys" colour (NTFS).
void Show_MFT_Zone();
// On a volume in use: has the file system write the moves it still holds
// in memory, so the run ends with them on the disk. False, after "Drive
// status", when it cannot.
bool Commit_Moves();
// Records "Error writing drive" and stops the run.
void WriteStop();

// The status text of a move: the file name, and its size when 1 MB or more.
std::string Move_Status_Text(Long R);

}  // namespace vr
