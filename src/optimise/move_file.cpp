// Moving one file on a volume in use: the file system moves the clusters on
// the program's request (FSCTL_MOVE_FILE); the engine checks the target
// first, postpones a move whose target the file system has not released
// yet, and brings its tables and the map up to date with the outcome.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "alloc/allocation_state.h"
#include "alloc/reservations.h"
#include "map/map_colors.h"
#include "map/runs.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/move_engine.h"
#include "optimise/move_internal.h"
#include "optimise/optimiser_display.h"
#include "platform/fs_driver.h"
#include "runtime/bytes.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/session.h"

namespace vr {

namespace {

constexpr uint32_t kWholeCompressedFile = 0x7FFFFFFF;
constexpr int kMoveRequestBytes = 32;
constexpr Long kChunkSectors = 128;  // 64 KB per request on FAT

// The status in upper-case hexadecimal digits ("C000009C").
std::string Hex(nt::NTSTATUS Status) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<uint32_t>(Status));
  return text;
}

void DriveStatus(nt::NTSTATUS Status) {
  ErrorState.ErrorWhere = "Drive status";
  Set_Error(Hex(Status));
}

// The table and counter updates after a move, or for a postponed move
// (its target stays reserved for it).
void Account(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, Long Count, Long& Target, Long K,
             bool Moved) {
  AllocationStateData& a = Allocation;
  if (Moved) {
    Redraw_XXXX(Lengths, Lcns, kColorEmpty);
    Redraw_BBBB(Count, Target, kColorMoved);
  }
  FirstLcn(R) = Target;
  Long m = Rounded_Clusters(Count);
  MarkTarget(Target, m);
  // The segment the target came from first: releasing the old segments
  // may insert segments before it.
  const bool fromSegment = K >= 1 && K <= a.FreeCount;
  if (fromSegment) {
    m = std::min(m, a.FreeLengths(K));
    if (a.FreeStarts(K) == Target) {
      a.FreeStarts(K) += m;
      Target += m;
    }
    a.FreeLengths(K) -= m;
  }
  if (Moved) {
    FilesMoved += 1;
    ClustersMoved += Count;
    if (FragmentState(R) > 2) {
      ntfs::FragmentedFiles -= 1;
      FragmentState(R) = 2;
    }
    Release_Segments(Lengths, Lcns);
  }
  if (fromSegment) Retry_Delayed(Timer());
}

bool MoveShared(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, Long& Count, Long& Target,
                RecordInfo& Info, Long K) {
  // A file whose earlier move still waits moves by its retry only: a
  // second target would leave the first one reserved for nobody.
  if (MoveDelayed(R) != 0) {
    CloseFileHandle(Info);
    return false;
  }
  const std::string text = Move_Status_Text(R);
  const Integer colour = FileColour(R);
  if (!Target_Free(Target, Count)) {
    CloseFileHandle(Info);
    if (AnyErrorCounted() || K == 0) return false;
    // The file system has not released the target yet: the move waits,
    // and the target stays reserved for it.
    Redraw_XXXX(Lengths, Lcns, colour);
    DelayMove(R);
    Account(R, Lengths, Lcns, Count, Target, K, false);
    return true;
  }
  Opt_Value(1, text);
  Redraw_XXXX(Lengths, Lcns, kColorMoving);
  nt::NTSTATUS status;
  if (VolumeSession.IsNtfs != 0) {
    const bool compressed = (FileFlags(R) & kFlagCompressed) != 0;
    status = SendMove(Info.FileHandle, 0, Target,
                      compressed ? Long(kWholeCompressedFile) : ClusterCount(R));
  } else {
    status = static_cast<nt::NTSTATUS>(Move_Chunks(Info.FileHandle, Target, Count));
  }
  CloseFileHandle(Info);
  if (status != nt::STATUS_SUCCESS) {
    Redraw_XXXX(Lengths, Lcns, colour);
    if (status == nt::STATUS_ALREADY_COMMITTED) {
      // The target was free a moment ago: on NTFS the file system refuses
      // the file itself (compressed, sparse), so it stays where it is.
      if (VolumeSession.IsNtfs != 0) CannotMove(R, Info);
    } else if (FileRefused(status)) {
      CannotMove(R, Info);
    } else {
      DriveStatus(status);
    }
    return false;
  }
  Account(R, Lengths, Lcns, Count, Target, K, true);
  return true;
}

}  // namespace

nt::NTSTATUS SendMove(Long FileHandle, Long Vcn, Long Lcn, Long Count) {
  uint8_t request[kMoveRequestBytes] = {};
  const MutableBytes r(request, kMoveRequestBytes);
  PutU32(r, 0, static_cast<uint32_t>(FileHandle.Value()));
  PutU64(r, 8, static_cast<uint64_t>(Vcn.Value()));
  PutU64(r, 16, static_cast<uint64_t>(Lcn.Value()));
  PutU32(r, 24, static_cast<uint32_t>(Count.Value()));
  nt::IO_STATUS_BLOCK io;
  return Fs_Control(VolumeSession.VolumeHandle, nt::FSCTL_MOVE_FILE, request, kMoveRequestBytes,
                    nullptr, 0, io);
}

bool Commit_Moves() {
  nt::IO_STATUS_BLOCK io;
  const nt::NTSTATUS status = nt::NtFlushBuffersFile(VolumeSession.VolumeHandle, &io);
  if (status == nt::STATUS_SUCCESS) return true;
  DriveStatus(status);
  return false;
}

bool FileRefused(nt::NTSTATUS Status) {
  return Status == nt::STATUS_INVALID_PARAMETER || Status == platform::STATUS_DISK_FULL;
}

bool Move_File(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, Long& Count, Long& Target,
               RecordInfo& Info, Long K) {
  if (VolumeSession.SharedMode == 0) {
    // The program's own copy and record rewrite is not part of this build:
    // nothing is written.
    CloseFileHandle(Info);
    ErrorState.ErrorWhere = "Move_File";
    Set_Error("Moving files on a volume held exclusively is not available yet.");
    return false;
  }
  try {
    return MoveShared(R, Lengths, Lcns, Count, Target, Info, K);
  } catch (const RunError& e) {
    CloseFileHandle(Info);
    Trap_Error("Move_File", e.Number(), e.Description());
    return false;
  }
}

uint32_t Move_Chunks(Long FileHandle, Long Target, Long Count) {
  const Long piece = std::max(Long(1), kChunkSectors / VolumeSession.SectorsPerCluster);
  for (Long vcn = 0; vcn < Count; vcn += piece) {
    const nt::NTSTATUS status =
        SendMove(FileHandle, vcn, Target + vcn, std::min(piece, Count - vcn));
    if (status == nt::STATUS_SUCCESS) continue;
    // Nothing moved yet: the move is postponed, unless the volume itself
    // is failing (that stops the run whatever piece it met).
    if (vcn == 0 && (status == nt::STATUS_ALREADY_COMMITTED || FileRefused(status)))
      return static_cast<uint32_t>(nt::STATUS_ALREADY_COMMITTED);
    return static_cast<uint32_t>(status);
  }
  return 0;
}

}  // namespace vr
