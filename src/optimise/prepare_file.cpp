// Before a move: the file's segments as they are now, and its file-table
// columns brought up to date from them.
#include "ntfs/file_record.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs/run_list.h"
#include "optimise/move_engine.h"
#include "optimise/move_internal.h"
#include "platform/nt.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/session.h"

namespace vr {

void CloseFileHandle(RecordInfo& Info) {
  if (Info.FileHandle != -1) nt::CloseHandle(Info.FileHandle);
  Info.FileHandle = -1;
}

namespace {

bool Prepare(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info) {
  if (DoNotMove(R) != 0) return false;
  Info = RecordInfo{};
  Info.FileHandle = -1;
  if (VolumeSession.SharedMode != 0) {
    ReadPtrs(R, Lengths, Lcns, Info);
    if (AnyErrorCounted()) return false;  // ReadPtrs closed the file
    if (Info.FileHandle == -1) {
      // Another program holds the file open now: as the scan treats a busy
      // file, it stays where it is.
      if (MoveDelayed(R) != 0) Cancel_Delay(R);
      CannotMove(R, Info);
      return false;
    }
  } else {
    ByteArray buffer(0);
    Decode_FILE(VolumeSession.VolumeHandle, R, Lengths, Lcns, buffer, Info);
    if (AnyErrorCounted()) return false;
  }
  const bool wasFragmented = FragmentState(R) > 2;
  if (Lengths.UBound() >= 1) {
    if (Info.Compressed != 0) {
      FileFlags(R) = FileFlags(R) | kFlagCompressed;
    } else {
      FileFlags(R) = FileFlags(R) & ~kFlagCompressed;
    }
    ClusterCount(R) = Info.Clusters;
    const Integer n = Count_Fragments(Lengths, Lcns);
    FragmentState(R) = n == 32767 ? n : Integer(n + Integer(1));
    const bool fragmented = FragmentState(R) > 2;
    if (fragmented && !wasFragmented) ntfs::FragmentedFiles += 1;
    if (!fragmented && wasFragmented) ntfs::FragmentedFiles -= 1;
  } else {
    // No clusters left to move.
    FragmentState(R) = 1;
    DoNotMove(R) = 1;
    if (wasFragmented) ntfs::FragmentedFiles -= 1;
  }
  if (DoNotMove(R) == 0) return true;
  if (MoveDelayed(R) != 0) {
    Cancel_Delay(R);
    // FirstLcn named the cancelled reservation; the file is where it was.
    if (Lcns.UBound() >= 1) FirstLcn(R) = LowestLcn(Lcns);
  }
  CloseFileHandle(Info);
  return false;
}

}  // namespace

bool Prepare_File(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info) {
  try {
    return Prepare(R, Lengths, Lcns, Info);
  } catch (const RunError& e) {
    CloseFileHandle(Info);
    Trap_Error("Prepare_File", e.Number(), e.Description());
    return false;
  }
}

}  // namespace vr
