// File-system control requests: the file record, the volume bitmap, a
// file's extents and the MFT zone, asked of the file system when the volume
// is in use (and the MFT zone always on NTFS). The allocation layer keeps
// what the bitmap and zone requests return (alloc/volume_bitmap.h).
#pragma once

#include <string>

#include "platform/nt.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Extents per FSCTL_GET_RETRIEVAL_POINTERS request, and its reply size.
constexpr int kExtentsPerRequest = 512;
constexpr int kRetrievalReplyBytes = 16 + 16 * kExtentsPerRequest;  // 8208
constexpr int kVolumeDataBytes = 96;

// Sends one request with NtFsControlFile. A request that answers
// STATUS_PENDING is waited for at once on Handle (no time-out) and its status
// taken from IoStatus; otherwise the status is the call's own answer.
nt::NTSTATUS Fs_Control(Long Handle, nt::DWORD Code, const void* In, nt::DWORD InSize, void* Out,
                        nt::DWORD OutSize, nt::IO_STATUS_BLOCK& IoStatus);

// "Sts=" and the status in upper-case hexadecimal without leading zeros.
std::string Status_Text(nt::NTSTATUS Status);

// Asks for the volume bitmap from cluster StartLcn and copies up to
// ByteCount of its bytes into Dest at DestIndex. Returns the bitmap's size
// in bytes; 0 after "Error reading drive".
Long Get_Volume_Bitmap(Long StartLcn, Long ByteCount, ByteArray& Dest, Long DestIndex);

// Opens a file (GENERIC_READ, write-through and no buffering) or a folder
// (list access, backup semantics) with share mode 0. -1 when it cannot be
// opened, among other reasons because another program holds it.
Long Open_File(const std::string& Path, bool IsFolder);

// The extents of record RecordNumber's file through the file system, as
// segments (touching extents merged; extents without clusters set
// Info.Compressed and are left out). Info.FileHandle keeps the file open for
// the caller; -1 and empty segments when the file cannot be opened.
void ReadPtrs(Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info);

}  // namespace vr
