#include "ntfs/mft.h"

#include <algorithm>
#include <cstdint>

#include "ntfs/attribute_types.h"
#include "ntfs/file_record.h"
#include "runtime/format.h"
#include "volume/block_cache.h"
#include "volume/error_state.h"
#include "volume/fs_control.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

ByteArray MftBitmap(0);
ByteArray SeenRecords(0);

namespace {

std::string Lfb(Long RecordNumber) { return "LFB: " + Str(RecordNumber); }

// The $MFT's segments, or the 32 clusters at MftLcn until record 0 has
// given them.
void MftSegments(const VbArray<Long>*& lengths, const VbArray<Long>*& lcns) {
  static VbArray<Long> presetLengths(1), presetLcns(1);
  if (VolumeSession.MftRunLengths.UBound() >= 1 &&
      VolumeSession.MftRunLcns.UBound() >= VolumeSession.MftRunLengths.UBound()) {
    lengths = &VolumeSession.MftRunLengths;
    lcns = &VolumeSession.MftRunLcns;
    return;
  }
  presetLengths(1) = 32;
  presetLcns(1) = VolumeSession.MftLcn;
  lengths = &presetLengths;
  lcns = &presetLcns;
}

// Whole-sector read at Sector without recording anything: the caller
// reports the failure in its own words. A short transfer is a failure.
bool ReadSectors(Long Sector, MutableBytes Buffer) {
  if (!Seek_Sector(Sector)) return false;
  nt::DWORD read = 0;
  const nt::BOOL ok = nt::ReadFile(VolumeSession.VolumeHandle, Buffer.data(),
                                   static_cast<nt::DWORD>(Buffer.size()), &read, nullptr);
  return ok && read == Buffer.size();
}

// Whole-sector read at Sector, inside the MFT segment that holds it,
// through the block cache; records nothing (see ReadSectors).
bool ReadMftSectors(Long Sector, MutableBytes Buffer) {
  const VbArray<Long>* lengths;
  const VbArray<Long>* lcns;
  MftSegments(lengths, lcns);
  const int64_t spc = VolumeSession.SectorsPerCluster;
  for (int64_t i = 1; i <= lengths->UBound() && i <= lcns->UBound(); ++i) {
    const int64_t start = int64_t{(*lcns)(i).Value()} * spc;
    const int64_t sectors = int64_t{(*lengths)(i).Value()} * spc;
    if (Sector >= start && Sector < start + sectors)
      return Cached_Read(Long(start), Long(sectors), Sector, Buffer);
  }
  return ReadSectors(Sector, Buffer);
}

// Where a record lies; `split3` when it would need a third segment.
Long Locate(Long RecordNumber, Long& SectorsLeft, Long& NextRunSector, bool& split3) {
  split3 = false;
  SectorsLeft = 0;
  NextRunSector = 0;
  const VbArray<Long>* lengths;
  const VbArray<Long>* lcns;
  MftSegments(lengths, lcns);
  const Long spc = VolumeSession.SectorsPerCluster;
  const Long spr = VolumeSession.SectorsPerFileRecord;
  const Long rel = spr * RecordNumber;
  Long before = 0;
  for (int64_t i = 1; i <= lengths->UBound(); ++i) {
    const Long sectors = (*lengths)(i)*spc;
    if (before <= rel && rel < before + sectors) {
      const Long sector = (*lcns)(i)*spc + rel - before;
      SectorsLeft = before + sectors - rel;
      if (SectorsLeft < spr) {
        // The rest lies at the start of the next segment, which must hold it.
        const bool next = i + 1 <= lengths->UBound();
        if (next) NextRunSector = (*lcns)(i + 1) * spc;
        if (!next || (*lengths)(i + 1) * spc < spr - SectorsLeft) {
          ErrorState.ErrorText = "FB > 2 $MFT";
          ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
          ErrorState.Failed = kTrue;
          split3 = true;
        }
      }
      return sector;
    }
    before += sectors;
  }
  return 0;
}

Long LocateTrapped(Long RecordNumber, Long& SectorsLeft, Long& NextRunSector, bool& split3) {
  try {
    if (VolumeSession.SharedMode == 0 && CheckedScan != 0) ChkActive(RecordNumber);
    return Locate(RecordNumber, SectorsLeft, NextRunSector, split3);
  } catch (const RunError& e) {
    ErrorState.ErrorWhere = "FileBlock";
    ErrorState.ErrorText = e.Description();
    ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
    ErrorState.Failed = kTrue;
    throw;
  }
}

bool ReadShared(ByteArray& Buffer, Long RecordNumber) {
  const int64_t bytes = static_cast<int64_t>(Buffer.size());
  ByteArray reply(bytes + 12 - 1);
  uint8_t in[8] = {};
  PutU64(MutableBytes(in, 8), 0, static_cast<uint32_t>(RecordNumber.Value()));
  nt::IO_STATUS_BLOCK io;
  const nt::NTSTATUS status =
      Fs_Control(VolumeSession.VolumeHandle, nt::FSCTL_GET_NTFS_FILE_RECORD, in, sizeof in,
                 reply.data(), static_cast<nt::DWORD>(reply.size()), io);
  if (status != nt::STATUS_SUCCESS) {
    ErrorState.ErrorWhere = Lfb(RecordNumber);
    Rec_Error(Status_Text(status), Buffer.Span());
    return false;
  }
  const Bytes r = reply.Span();
  const int64_t length = std::min<int64_t>(U32(r, 8), bytes);
  // The file system answers with the nearest record in use at or below the
  // one asked for; another record's bytes must never pass for this one. A
  // reply shorter than it claims is a failed read as well.
  const bool same = (U64(r, 0) & kRecordNumberMask) == static_cast<uint64_t>(RecordNumber.Value());
  if (!same || io.Information < static_cast<uint64_t>(12 + length)) {
    ErrorState.ErrorWhere = Lfb(RecordNumber);
    Rec_Error("Error reading MFT", Buffer.Span());
    return false;
  }
  std::copy(reply.data() + 12, reply.data() + 12 + length, Buffer.data());
  std::fill(Buffer.data() + length, Buffer.data() + bytes, uint8_t{0});
  return true;
}

bool ReadExclusive(ByteArray& Buffer, Long RecordNumber) {
  Long left, next;
  bool split3 = false;
  const Long sector = LocateTrapped(RecordNumber, left, next, split3);
  if (split3) return false;  // "FB > 2 $MFT" is recorded
  const Long spr = VolumeSession.SectorsPerFileRecord;
  const MutableBytes all = Buffer.Span();
  bool ok;
  if (left > 0 && left < spr) {
    const size_t first = static_cast<size_t>(left.Value()) * kSectorSize;
    ok = ReadMftSectors(sector, all.subspan(0, first)) && ReadMftSectors(next, all.subspan(first));
  } else {
    ok = ReadMftSectors(sector, all);
  }
  if (!ok) {
    ErrorState.ErrorWhere = Lfb(RecordNumber);
    Rec_Error("Error reading MFT", Buffer.Span());
  }
  return ok;
}

}  // namespace

void Install_MFT_Hooks() {
  Read_FILE_Hook = Read_FILE;
  Do_20h_Hook = Do_20h;
}

Long Mft_Record_Count() {
  const VbArray<Long>* lengths;
  const VbArray<Long>* lcns;
  MftSegments(lengths, lcns);
  int64_t sectors = 0;
  for (int64_t i = 1; i <= lengths->UBound(); ++i)
    if ((*lengths)(i) > 0) sectors += (*lengths)(i).Value();
  sectors *= VolumeSession.SectorsPerCluster.Value();
  const int64_t spr = VolumeSession.SectorsPerFileRecord;
  if (spr <= 0) return 0;
  return std::min<int64_t>(sectors / spr, INT32_MAX);
}

Long FileBlock(Long RecordNumber, Long& SectorsLeft, Long& NextRunSector) {
  bool split3 = false;
  return LocateTrapped(RecordNumber, SectorsLeft, NextRunSector, split3);
}

bool Read_FILE(ByteArray& Buffer, Long RecordNumber) {
  // A buffer of the record's size is read into as it is (a scan reads every
  // record into one buffer); what a failed read leaves in it is cleared.
  const int64_t size = int64_t{VolumeSession.SectorsPerFileRecord.Value()} * kSectorSize;
  if (static_cast<int64_t>(Buffer.size()) != size) Buffer.ReDim(size - 1);
  if (RecordNumber < 0 || RecordNumber >= Mft_Record_Count()) {
    Buffer.Fill(0);
    ErrorState.ErrorWhere = Lfb(RecordNumber);
    Rec_Error(kBeyondMftText, Buffer.Span());
    return false;
  }
  bool ok = false;
  try {
    ok = VolumeSession.SharedMode != 0 ? ReadShared(Buffer, RecordNumber)
                                       : ReadExclusive(Buffer, RecordNumber);
  } catch (const RunError&) {
    Buffer.Fill(0);
    throw;
  }
  if (!ok) {
    Buffer.Fill(0);
    return false;
  }
  VolumeSession.RecordsRead += 1;
  Mark_Seen(RecordNumber);
  return true;
}

bool Is_Active(Long RecordNumber) {
  if (RecordNumber < 0) return false;
  const int64_t byte = RecordNumber / 8;
  if (byte > MftBitmap.UBound()) return false;
  return (MftBitmap(byte) & BitMask[RecordNumber % 8]) != 0;
}

void Mark_Seen(Long RecordNumber) {
  if (RecordNumber < 0) return;
  const int64_t byte = RecordNumber / 8;
  if (byte > SeenRecords.UBound()) return;
  SeenRecords(byte) = static_cast<uint8_t>(SeenRecords(byte) | BitMask[RecordNumber % 8]);
}

void ChkActive(Long RecordNumber) {
  if (Is_Active(RecordNumber)) {
    Mark_Seen(RecordNumber);
  } else if (MftBitmap.size() > 1) {
    Set_Error("ChkActive");
  }
}

void Load_MFT_Bitmap() {
  Integer clusters = 0;  // a bitmap of more than 32767 clusters overflows here
  for (int64_t i = 1; i <= MftBitmapLengths.UBound(); ++i) clusters += MftBitmapLengths(i);
  const Long size = Long(clusters) * VolumeSession.SectorsPerCluster * kSectorSize;
  MftBitmap.ReDim(int64_t{size.Value()} - 1);
  // Records marked while record 0 was decoded stay marked.
  SeenRecords.ReDimPreserve(int64_t{size.Value()} - 1);
  int64_t at = 0;
  for (int64_t i = 1; i <= MftBitmapLengths.UBound(); ++i) {
    const Long bytes = MftBitmapLengths(i) * VolumeSession.SectorsPerCluster * kSectorSize;
    if (bytes <= 0) continue;
    const MutableBytes part = MftBitmap.Span().subspan(static_cast<size_t>(at), bytes.Value());
    if (!Raw_Read(MftBitmapLcns(i) * VolumeSession.SectorsPerCluster, part)) return;
    at += bytes;
  }
}

bool Load_Mft() {
  const auto errors = [] { return AnyErrorCounted(); };
  MftBitmap.ReDim(0);
  MftBitmap(0) = 0xFF;  // records 0..7 count as in use while record 0 is read
  SeenRecords.ReDim(0);
  VolumeSession.MftRunLengths.ReDim(0);
  VolumeSession.MftRunLcns.ReDim(0);
  ByteArray buffer(0);
  RecordInfo info{};
  Decode_FILE(VolumeSession.VolumeHandle, 0, VolumeSession.MftRunLengths, VolumeSession.MftRunLcns,
              buffer, info);
  if (errors()) return false;
  Load_MFT_Bitmap();
  if (errors()) return false;
  SeenRecords.ReDimPreserve(MftBitmap.UBound());
  return true;
}

}  // namespace vr
