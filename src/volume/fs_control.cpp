#include "volume/fs_control.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "runtime/bytes.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/session.h"

namespace vr {

namespace {

constexpr nt::DWORD kListDirectory = 1;              // FILE_LIST_DIRECTORY
constexpr nt::DWORD kBackupSemantics = 0x02000000u;  // FILE_FLAG_BACKUP_SEMANTICS
constexpr nt::DWORD kFileFlags = 0xA0000000u;        // write-through, no buffering
constexpr int kBitmapHeader = 16;

// A 64-bit request field: the value in the low half, the high half 0.
void PutQuad(uint8_t (&in)[8], Long value) {
  PutU64(MutableBytes(in, 8), 0, static_cast<uint32_t>(value.Value()));
}

// A 64-bit reply field read through its low 32 bits.
Long Low32(Bytes b, int64_t offset) { return static_cast<int32_t>(U32(b, offset)); }

void ReadPtrsFailed(VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info) {
  ErrorState.ErrorText = "ReadPtrs failed";
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
  Lengths.ReDim(0);
  Lcns.ReDim(0);
  nt::CloseHandle(Info.FileHandle);
  Info.FileHandle = -1;
}

}  // namespace

nt::NTSTATUS Fs_Control(Long Handle, nt::DWORD Code, const void* In, nt::DWORD InSize, void* Out,
                        nt::DWORD OutSize, nt::IO_STATUS_BLOCK& IoStatus) {
  nt::NTSTATUS status =
      nt::NtFsControlFile(Handle, 0, nullptr, nullptr, &IoStatus, Code, In, InSize, Out, OutSize);
  if (status == nt::STATUS_PENDING) {
    nt::WaitForSingleObject(Handle, nt::INFINITE);
    status = IoStatus.Status;
  }
  return status;
}

std::string Status_Text(nt::NTSTATUS Status) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(Status));
  return std::string("Sts=") + hex;
}

Long Get_Volume_Bitmap(Long StartLcn, Long ByteCount, ByteArray& Dest, Long DestIndex) {
  ByteArray reply(int64_t{ByteCount.Value()} + kBitmapHeader - 1);
  uint8_t in[8];
  PutQuad(in, StartLcn);
  nt::IO_STATUS_BLOCK io;
  const nt::NTSTATUS status =
      Fs_Control(VolumeSession.VolumeHandle, nt::FSCTL_GET_VOLUME_BITMAP, in, sizeof in,
                 reply.data(), static_cast<nt::DWORD>(reply.size()), io);
  if ((status != nt::STATUS_SUCCESS && status != nt::STATUS_BUFFER_OVERFLOW) ||
      io.Information < kBitmapHeader) {
    Read_Error();
    return 0;
  }
  const int64_t bits = U32(reply.Span(), 8);
  const Long total = (bits + 7) / 8;
  const int64_t copy = std::min<int64_t>(ByteCount, total);
  // Fewer bytes than the reply promises is a failed read, never a bitmap
  // padded with whatever the buffer held.
  if (io.Information < static_cast<uint64_t>(kBitmapHeader + copy)) {
    Read_Error();
    return 0;
  }
  CheckRange(Dest.size(), DestIndex, copy);
  std::copy(reply.data() + kBitmapHeader, reply.data() + kBitmapHeader + copy,
            Dest.data() + DestIndex.Value());
  return total;
}

Long Open_File(const std::string& Path, bool IsFolder) {
  if (IsFolder)
    return nt::CreateFileA(Path, kListDirectory, 0, nullptr, nt::OPEN_EXISTING, kBackupSemantics,
                           0);
  return nt::CreateFileA(Path, nt::GENERIC_READ, 0, nullptr, nt::OPEN_EXISTING, kFileFlags, 0);
}

void ReadPtrs(Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info) {
  Lengths.ReDim(kExtentsPerRequest);
  Lcns.ReDim(kExtentsPerRequest);
  Info.Name = FileNames(RecordNumber);
  const std::string path = Folder_Path(FolderIndex(RecordNumber)) + "\\" + Info.Name;
  Info.FileHandle = Open_File(path, false);
  if (Info.FileHandle == -1) {  // busy or gone: nothing to move, no error
    Lengths.ReDim(0);
    Lcns.ReDim(0);
    return;
  }
  ByteArray reply(kRetrievalReplyBytes - 1);
  const Bytes r = reply.Span();
  Long vcn = 0;
  Integer count = 0;
  Long total = 0;
  for (;;) {
    uint8_t in[8];
    PutQuad(in, vcn);
    nt::IO_STATUS_BLOCK io;
    const nt::NTSTATUS status =
        Fs_Control(Info.FileHandle, nt::FSCTL_GET_RETRIEVAL_POINTERS, in, sizeof in, reply.data(),
                   static_cast<nt::DWORD>(reply.size()), io);
    const bool more = status == nt::STATUS_BUFFER_OVERFLOW;
    const int64_t extents = U32(r, 0);
    // A reply that claims more extents than it holds, or that asks to go on
    // without giving any, would leave the list short of the file's clusters.
    if ((status != nt::STATUS_SUCCESS && !more) || extents > kExtentsPerRequest ||
        io.Information < static_cast<uint64_t>(16 + 16 * extents) || (more && extents == 0)) {
      ReadPtrsFailed(Lengths, Lcns, Info);
      return;
    }
    vcn = Low32(r, 8);
    for (int64_t j = 0; j < extents; ++j) {
      const Long next = Low32(r, 16 + 16 * j);
      if (I64(r, 24 + 16 * j) == -1) {  // no clusters: a hole or a compressed unit's tail
        Info.Compressed = kTrue;
      } else {
        count += 1;
        if (count > Lengths.UBound()) {
          Lengths.ReDimPreserve(Lengths.UBound() + kExtentsPerRequest);
          Lcns.ReDimPreserve(Lcns.UBound() + kExtentsPerRequest);
        }
        Lcns(count) = Low32(r, 24 + 16 * j);
        Lengths(count) = next - vcn;
        total += Lengths(count);
      }
      vcn = next;
    }
    if (!more) break;
  }
  // Extents that touch are one segment.
  Integer k = count > 0 ? Integer(1) : Integer(0);
  for (int64_t l = 2; l <= count; ++l) {
    if (Lcns(k) + Lengths(k) == Lcns(l)) {
      Lengths(k) += Lengths(l);
    } else {
      k += 1;
      if (k < l) {
        Lcns(k) = Lcns(l);
        Lengths(k) = Lengths(l);
      }
    }
  }
  Lengths.ReDimPreserve(k);
  Lcns.ReDimPreserve(k);
  Info.Clusters = total;
}

}  // namespace vr
