#include "ntfs/cluster_map.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>

#include "alloc/cluster_bitmaps.h"
#include "alloc/free_segments.h"
#include "alloc/volume_bitmap.h"
#include "map/map_colors.h"
#include "map/mark_segments.h"
#include "map/paint.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "platform/nt.h"
#include "platform/ntfs_layout.h"
#include "platform/update_sequence.h"
#include "runtime/bytes.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/raw_write.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

namespace {

constexpr int64_t kClustersPerBitmapSector = 4096;
constexpr int64_t kFirstComparedRecordByte = 2;     // records 16 and up
constexpr uint64_t kRecordRef = 0xFFFFFFFFFFFFull;  // record number of a file reference

// The clusters the bitmap stands for: whole clusters of the volume.
int64_t VolumeClusters() {
  return int64_t{VolumeSession.TotalSectors.Value()} / VolumeSession.SectorsPerCluster;
}

// The write failure of the optimiser: the run stops, the drive is suspect.
void Write_Failed(const std::string& Where) {
  ErrorState.ErrorText = "Error writing drive";
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = Where;
  ErrorState.ReadFault = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
}

// A write-back asked for where it must not happen: nothing is written, the
// run stops as after a failed write, and the fault is the program's own.
void Write_Refused(const std::string& Where) {
  Write_Failed(Where);
  ErrorState.ReadFault = 0;
  ErrorState.InternalFault = kTrue;
}

// A write-back is allowed only on a volume the program holds exclusively
// and locked; anything else would write behind the file system's back.
bool MayWrite() {
  const VolumeSessionData& s = VolumeSession;
  return s.VolumeHandle != -1 && s.SharedMode == 0 && s.NotLocked == 0 && s.Locked != 0 &&
         s.IsNtfs != 0;
}

// Raw_Write wrote nothing. On a volume that failed the clean-volume check
// the run stops with the check's one line; anything else is a failed write.
void Write_Not_Done(const std::string& Where) {
  if (!LastWriteFoundUnclean()) {
    Write_Failed(Where);
    return;
  }
  ErrorState.ErrorText = LastWriteRefusal();
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = Where;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
}

// The bits of byte ByteIndex that stand for clusters of the volume.
uint8_t VolumeBits(int64_t ByteIndex, int64_t total) {
  const int64_t left = total - 8 * ByteIndex;
  return left >= 8 ? 0xFF : static_cast<uint8_t>((1u << left) - 1);
}

void Count_Differences(int64_t ByteIndex, uint8_t Mask, Long& BitsExtra, Long& BitsLess) {
  const uint8_t volume = Allocation.VolumeBitmap(ByteIndex);
  const uint8_t computed = Allocation.ComputedBitmap(ByteIndex);
  const uint8_t differ = (volume ^ computed) & Mask;
  for (int bit = 0; bit < 8; ++bit) {
    if (((differ >> bit) & 1) == 0) continue;
    if ((volume >> bit) & 1) {
      BitsExtra += 1;
    } else {
      BitsLess += 1;
    }
  }
}

void CompareBitmaps(Long& Excess, Long& Unmarked) {
  if (MftBitmapLengths.UBound() >= 1) {
    // The scan claimed these runs already, as an attribute of record 0
    // (Mark_Attributes); claiming them again finds them owned, which is
    // their own owner and no cross-link, so the answer is not used here.
    Mark_Segments_Used(MftBitmapLengths, MftBitmapLcns);
    Mark_Segments(MftBitmapLengths, MftBitmapLcns, RecordInfo{}, true);
  }
  const int64_t total = VolumeClusters();
  const int64_t bytes = (total + 7) / 8;
  const ByteArray& volume = Allocation.VolumeBitmap;
  for (int64_t k = 0; k < bytes; ++k) {
    const uint8_t mask = VolumeBits(k, total);
    if (((volume(k) ^ Allocation.ComputedBitmap(k)) & mask) == 0) continue;
    Paint_Cluster(Long(8 * k), kColorMarked);
    Count_Differences(k, mask, Excess, Unmarked);
  }
}

void FindUnreferenced() {
  const int64_t records = Mft_Record_Count();
  const int64_t last = std::min<int64_t>({records / 8, MftBitmap.UBound(), SeenRecords.UBound()});
  for (int64_t k = kFirstComparedRecordByte; k <= last; ++k) {
    // In use but never reached; a record reached but not in use is the
    // scan's own "ChkActive" matter.
    const uint8_t lost = MftBitmap(k) & ~SeenRecords(k);
    if (lost == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      const int64_t r = 8 * k + bit;
      if (((lost >> bit) & 1) == 0 || r >= records) continue;
      // Only a base record whose own header says it is in use is a file;
      // reserved records and extension records are not.
      ByteArray raw;
      const bool read = Read_FILE_Hook ? Read_FILE_Hook(raw, Long(r)) : Read_FILE(raw, Long(r));
      if (!read) return;
      const Bytes h = raw.Span();
      if (U32(h, 0) != kFileMagic || (U16(h, 0x16) & 1) == 0 || (U64(h, 0x20) & kRecordRef) != 0)
        continue;
      VbArray<Long> lengths, lcns;
      RecordInfo info;
      Decode_FILE_Record(Long(r), lengths, lcns, raw, info);
      Set_Error("Unref. file " + Str(r) + " " + Printable(info.Name));
      return;
    }
  }
}

}  // namespace

void Differences(Long ByteIndex, Long& BitsExtra, Long& BitsLess) {
  Count_Differences(ByteIndex, 0xFF, BitsExtra, BitsLess);
}

void Bitmap_Vs_Bitmapx(Long& Excess, Long& Unmarked) {
  Excess = 0;
  Unmarked = 0;
  try {
    CompareBitmaps(Excess, Unmarked);
  } catch (const RunError& e) {
    Trap_Error("Bitmap_Vs_Bitmapx", e.Number(), e.Description());
  }
}

void Checking_Bitmaps() {
  Long excess, unmarked;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  if (!AnyErrorCounted() && ErrorState.Failed == 0) {
    if (excess != 0 && VolumeSession.SharedMode == 0) ReportLine("Bitmap: excess=" + Str(excess));
    if (unmarked != 0) {
      ReportError("Bitmap: unmarked=" + Str(unmarked));
      ErrorState.ErrorCount = 1;
    }
  }
  if (AnyErrorCounted()) {
    ErrorState.Failed = kTrue;
    ErrorState.RecordFault = kTrue;
  }
}

void ActiveBitmap_Vs_ActiveBitmapx() {
  try {
    FindUnreferenced();
  } catch (const RunError& e) {
    Trap_Error("ActiveBitmap_Vs_ActiveBitmapx", e.Number(), e.Description());
  }
}

namespace {

bool WriteBitmap(Long Block, Long Top) {
  const AllocationStateData& a = Allocation;
  if (Top <= Block) return true;  // nothing changed
  const int64_t first = Block / kClustersPerBitmapSector;
  const int64_t count = (int64_t{Top.Value()} - 1) / kClustersPerBitmapSector - first + 1;
  const int64_t from = first * kSectorSize;
  const int64_t bytes = count * kSectorSize;
  // The run read at load time is the $Bitmap file's only run; never write
  // outside it.
  if (!MayWrite() || a.BitmapSector <= 0 || Block < 0 ||
      from + bytes > static_cast<int64_t>(a.VolumeBitmap.size())) {
    Write_Refused("Save_BitMap");
    return false;
  }
  const Bytes data(a.VolumeBitmap.data() + from, static_cast<size_t>(bytes));
  if (!Raw_Write(a.BitmapSector + Long(first), data)) {
    Write_Not_Done("Save_BitMap");
    return false;
  }
  Bitmap_Saved(Block, Top);
  return true;
}

// File_Buf must be a FILE record of this volume's record size as it lies on
// the disk: each sector ending in the update sequence number, and (NTFS 3.1
// headers) carrying its own record number.
bool ReadyForDisk(const ByteArray& File_Buf, Long RecordNumber) {
  const int64_t sectors = VolumeSession.SectorsPerFileRecord;
  if (sectors <= 0 || static_cast<int64_t>(File_Buf.size()) != sectors * kSectorSize) return false;
  const Bytes b = File_Buf.Span();
  if (GetField(b, kMagic) != kFileMagic) return false;
  if (CheckUpdateSequence(b, sectors) != kUsaIntact) return false;
  if (GetField(b, kUsaOffset) >= kUsaOffsetNtfs31 &&
      GetField(b, kRecordNumber) != static_cast<uint32_t>(RecordNumber.Value()))
    return false;
  return true;
}

// The record as it goes to the disk: the same contents under the next
// update sequence number, so a write torn between sectors is seen as torn.
ByteArray NextSequence(const ByteArray& File_Buf) {
  ByteArray disk = File_Buf;
  const int64_t sectors = VolumeSession.SectorsPerFileRecord;
  PostReadFixup(disk.Span(), sectors);
  PreWriteFixup(disk.Span(), sectors);
  return disk;
}

// First sector of record RecordNumber's copy in $MFTMirr (the boot sector
// names its first cluster), 0 when the record has no copy, -1 when the
// mirror's place is not inside the volume.
int64_t MirrorSector(Long RecordNumber) {
  const VolumeSessionData& s = VolumeSession;
  const int64_t spc = s.SectorsPerCluster, spr = s.SectorsPerFileRecord;
  const int64_t mirrored = MftMirrorRecords(spc * kSectorSize, spr * kSectorSize);
  if (RecordNumber >= mirrored) return 0;
  const int64_t lcn = static_cast<int64_t>(GetField(s.BootSector.Span(), kBootMftMirrLcn));
  const int64_t total = s.TotalSectors;
  if (lcn <= 0 || spc <= 0 || lcn > total / spc) return -1;
  const int64_t first = lcn * spc + int64_t{RecordNumber.Value()} * spr;
  return first + spr <= total ? first : -1;
}

bool WriteRecord(const ByteArray& File_Buf, Long RecordNumber) {
  if (!MayWrite() || RecordNumber < 0 || RecordNumber >= Mft_Record_Count() ||
      !ReadyForDisk(File_Buf, RecordNumber)) {
    Write_Refused("Save_Buf");
    return false;
  }
  const Integer before = ErrorState.ErrorCount;
  Long left, next;
  const Long sector = FileBlock(RecordNumber, left, next);
  // A record the MFT's runs do not place (or that needs a third run) is
  // never written anywhere.
  if (ErrorState.ErrorCount != before || sector <= 0 || left <= 0) {
    if (ErrorState.ErrorCount == before) Write_Refused("Save_Buf");
    return false;
  }
  // Records 0 .. 3 (or a cluster's worth) must stay equal in $MFTMirr; a
  // record whose copy cannot be placed is not written at all.
  const int64_t mirror = MirrorSector(RecordNumber);
  if (mirror < 0) {
    Write_Refused("Save_Buf");
    return false;
  }
  const int64_t spr = VolumeSession.SectorsPerFileRecord;
  const ByteArray disk = NextSequence(File_Buf);
  const Bytes all = disk.Span();
  bool ok;
  if (left < spr) {
    if (next <= 0) {
      Write_Refused("Save_Buf");
      return false;
    }
    const size_t head = static_cast<size_t>(left.Value()) * kSectorSize;
    ok = Raw_Write(sector, all.subspan(0, head)) && Raw_Write(next, all.subspan(head));
  } else {
    ok = Raw_Write(sector, all);
  }
  // The $MFT first, then its copy: stopped in between, the $MFT holds the
  // new record and the mirror is the copy a repair rewrites.
  if (ok && mirror > 0) ok = Raw_Write(Long(mirror), all);
  if (!ok) Write_Not_Done("Save_Buf");
  return ok;
}

}  // namespace

bool Save_BitMap(Long Block, Long Top) {
  try {
    return WriteBitmap(Block, Top);
  } catch (const RunError& e) {
    Trap_Error("Save_BitMap", e.Number(), e.Description());
    return false;
  }
}

bool Save_Buf(const ByteArray& File_Buf, Long RecordNumber) {
  try {
    return WriteRecord(File_Buf, RecordNumber);
  } catch (const RunError& e) {
    Trap_Error("Save_Buf", e.Number(), e.Description());
    return false;
  }
}

}  // namespace vr
