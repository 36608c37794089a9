#include "ntfs/mft.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "ntfs/file_record.h"
#include "ntfs/fs_control.h"
#include "ntfs/record_bytes.h"
#include "ntfs/run_list.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

ByteArray MftBitmap(0);
ByteArray SeenRecords(0);
std::function<void(const VbArray<Long>&, const VbArray<Long>&)> Paint_20h_Hook;

namespace {

constexpr int kFileName = 0x30;
constexpr int kData = 0x80;
constexpr int kIndexRoot = 0x90;
constexpr int kIndexAllocation = 0xA0;
constexpr int kBitmap = 0xB0;
constexpr int kEndMarker = 0xFF;
constexpr int kListEntryHeader = 0x1A;  // fixed part of an attribute-list entry
constexpr uint64_t kRecordNumberMask = 0xFFFFFFFFFFFFull;

bool PendingMark() { return (ErrorState.ErrorCount & kAlignmentMark) != 0; }
void ClearMark() { ErrorState.ErrorCount = ErrorState.ErrorCount - kAlignmentMark; }
bool ErrorsCounted() { return (ErrorState.ErrorCount & kErrorCountMask) != 0; }

void CountError() {
  ErrorState.RecordFault = kTrue;
  ErrorState.Failed = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
}

// "Skip": a damaged attribute list or attribute walk, with its context.
void SkipError(const std::string& where, int64_t ref) {
  ErrorState.ErrorText = "Skip";
  ErrorState.ErrorWhere = where + " " + Str(ref);
  CountError();
}

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
  Seek_Sector(Sector);
  nt::DWORD read = 0;
  const nt::BOOL ok = nt::ReadFile(VolumeSession.VolumeHandle, Buffer.data(),
                                   static_cast<nt::DWORD>(Buffer.size()), &read, nullptr);
  return ok && read == Buffer.size();
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
    ok = ReadSectors(sector, all.subspan(0, first)) && ReadSectors(next, all.subspan(first));
  } else {
    ok = ReadSectors(sector, all);
  }
  if (!ok) {
    ErrorState.ErrorWhere = Lfb(RecordNumber);
    Rec_Error("Error reading MFT", Buffer.Span());
  }
  return ok;
}

bool IsI30Name(Bytes b, int64_t nameAt, int nameLength) {
  if (nameLength != 4) return false;
  static const char kI30[] = "$I30";
  for (int k = 0; k < 4; ++k)
    if (U16(b, nameAt + 2 * k) != static_cast<uint8_t>(kI30[k])) return false;
  return true;
}

// The name an attribute of `type` must have to be collected: $I30 for the
// index attributes, none for the data and the $MFT's bitmap.
bool NameFits(int type, Bytes b, int64_t nameAt, int nameLength) {
  if (type == kIndexRoot || type == kIndexAllocation) return IsI30Name(b, nameAt, nameLength);
  return nameLength == 0;
}

// One entry of an attribute list.
struct ListEntry {
  int type = 0;  // low byte of the attribute type
  bool fits = false;
  int64_t lowestVcn = 0;
  Long ref = 0;
  int instance = 0;
};

// FILE records read while one attribute list is followed: each extension
// record is read and fixed up once, however many of its attributes the
// list names. The base record is the caller's buffer (already fixed up).
class RecordSet {
 public:
  RecordSet(Long base, ByteArray* baseBuffer) : base_(base), baseBuffer_(baseBuffer) {}

  // The record, checked; null after a recorded error.
  ByteArray* Get(Long ref) {
    if (ref == base_ && baseBuffer_ != nullptr) return baseBuffer_;
    auto it = records_.find(ref.Value());
    if (it != records_.end()) return &it->second;
    ByteArray record;
    if (!Read_FILE(record, ref)) return nullptr;
    const Bytes b = record.Span();
    if (Get_Text(b, 0, 4) != "FILE") {
      Rec_Error("FILE", b);
      return nullptr;
    }
    if (!Fixup_FILE(record.Span())) return nullptr;
    // An extension record names its base record; one that belongs to
    // another file must not lend it clusters.
    if (ref != base_ &&
        (U64(b, 0x20) & kRecordNumberMask) != static_cast<uint64_t>(base_.Value())) {
      ErrorState.ErrorWhere = "Do_x0h: " + Str(ref);
      Rec_Error("Base", b);
      return nullptr;
    }
    return &(records_[ref.Value()] = std::move(record));
  }

 private:
  Long base_;
  ByteArray* baseBuffer_;
  std::map<int32_t, ByteArray> records_;
};

// Finds the attribute of `type` (and, for lowestVcn >= 0, that extent) in a
// fixed-up record. -1 after "Skip" or when there is none.
int64_t FindAttribute(Bytes b, int type, int64_t lowestVcn, int instance, Long ref) {
  int64_t pos = U16(b, 0x14);
  const int64_t used = std::min<int64_t>(U32(b, 0x18), static_cast<int64_t>(b.size()));
  while (pos < used) {
    if (U8(b, pos) == kEndMarker) break;
    const int64_t len = U32(b, pos + 4);
    if (len == 0) break;
    if (I16(b, pos + 4) < 0 || len < 0x18 || pos + len > used) {
      SkipError("Do_x0h:", ref);
      return -1;
    }
    if (U8(b, pos) == type) {
      const bool named = NameFits(type, b, pos + U16(b, pos + 0x0A), U8(b, pos + 9));
      const bool nonResident = U8(b, pos + 8) != 0;
      bool match = named;
      if (match && lowestVcn >= 0) match = nonResident && I64(b, pos + 0x10) == lowestVcn;
      if (match && instance >= 0) match = U16(b, pos + 0x0E) == instance;
      if (match) return pos;
    }
    pos += len;
  }
  return -1;
}

// One extent of the collected attribute from record `ref`.
Integer GatherExtent(RecordSet& records, Integer Type, Integer EntriesDone, Long ref,
                     VbArray<Long>& Lengths, VbArray<Long>& Lcns, Long& Size, Integer& Count,
                     Long& Clusters, Long& Sparse, Integer& IsDirectory, Long BaseRecord,
                     int64_t lowestVcn) {
  Clusters = 0;
  Sparse = 0;
  ByteArray* record = records.Get(ref);
  if (record == nullptr) return kFalse;
  const Bytes b = record->Span();
  const int64_t pos = FindAttribute(b, Type, lowestVcn, -1, ref);
  if (pos < 0) {
    if (!ErrorsCounted()) Rec_Error("Kind", b);
    return kFalse;
  }
  if (Type == kIndexRoot) {
    IsDirectory = kTrue;
    return kFalse;
  }
  const int64_t len = U32(b, pos + 4);
  const int64_t runOffset = U16(b, pos + 0x20);
  if (U8(b, pos + 8) == 0 || len < 72 || runOffset >= len) return kFalse;
  const int flags = U8(b, pos + 0x0C);
  const bool compressed = Type == kData && flags == 1;
  if (EntriesDone == 0) {
    if (Type == kData) Size = Get_Num(b, pos + 0x30, 4);  // data size
    if (Type == kIndexAllocation) Size = Get_Num(b, pos + 0x28, 4);
  }
  const Long start = pos + runOffset;
  const Long end = pos + len;
  const bool markBefore = PendingMark();
  if (Type == kData || Type == kIndexAllocation) {
    if (Type == kIndexAllocation) IsDirectory = kTrue;
    Decode_Segments(Count, b, start, end, Lengths, Lcns, Clusters, Sparse);
  } else if (Type == kBitmap && BaseRecord == 0) {
    // The $MFT's bitmap: its first extent starts the list afresh.
    Integer n = lowestVcn > 0 ? Integer(MftBitmapLengths.UBound()) : Integer(0);
    if (n > 0 && MftBitmapLcns.UBound() < n) n = 0;
    Long c, s;
    Decode_Segments(n, b, start, end, MftBitmapLengths, MftBitmapLcns, c, s);
    MftBitmapLengths.ReDimPreserve(n);
    MftBitmapLcns.ReDimPreserve(n);
  }
  // Compression units are 16 clusters only in a compressed attribute.
  if (flags == 0 && !markBefore && PendingMark()) ClearMark();
  return Flag(compressed);
}

// The first $FILE_NAME of the file when the list puts it in an extension
// record (a base record's own name is taken by its attribute walk).
void TakeName(RecordSet& records, const ListEntry& e, RecordInfo& Info) {
  ByteArray* record = records.Get(e.ref);
  if (record == nullptr) return;
  const Bytes b = record->Span();
  int64_t pos = FindAttribute(b, kFileName, -1, e.instance, e.ref);
  if (pos < 0 && !ErrorsCounted()) pos = FindAttribute(b, kFileName, -1, -1, e.ref);
  if (pos < 0) {
    if (!ErrorsCounted()) Rec_Error("Kind", b);
    return;
  }
  const int64_t value = pos + U16(b, pos + 0x14);
  if (U8(b, value + 0x40) == 0) {
    Rec_Error("InvName", b);
    return;
  }
  Info.Name = Get_Name(b, value + 0x40);
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
  Buffer.ReDim(int64_t{VolumeSession.SectorsPerFileRecord.Value()} * kSectorSize - 1);
  if (RecordNumber < 0 || RecordNumber >= Mft_Record_Count()) {
    ErrorState.ErrorWhere = Lfb(RecordNumber);
    Rec_Error(kBeyondMftText, Buffer.Span());
    return false;
  }
  const bool ok = VolumeSession.SharedMode != 0 ? ReadShared(Buffer, RecordNumber)
                                                : ReadExclusive(Buffer, RecordNumber);
  if (!ok) return false;
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

void Do_20h(Long RecordNumber, ByteArray& Buffer, Long AttributeOffset, VbArray<Long>& Lengths,
            VbArray<Long>& Lcns, RecordInfo& Info, Integer& Count) {
  const Bytes b = Buffer.Span();
  const int64_t a = AttributeOffset;
  const int64_t attributeEnd = a + U16(b, a + 4);
  ByteArray loaded;
  Bytes list = b;
  int64_t start, end;
  if (U8(b, a + 8) == 0) {  // resident: the entries are the attribute's value
    start = a + U16(b, a + 0x14);
    end = start + U32(b, a + 0x10);
    if (end > attributeEnd) {
      SkipError("Do_20h:", 0);
      return;
    }
  } else {
    VbArray<Long> runLengths, runLcns;
    Load_20h_Data(b, AttributeOffset, loaded, runLengths, runLcns);
    if (ErrorState.ReadFault != 0) return;
    if (Paint_20h_Hook) Paint_20h_Hook(runLengths, runLcns);
    if (ErrorsCounted()) return;
    list = loaded.Span();
    start = 0;
    end = U32(b, a + 0x30);  // data size: a list may outgrow 64 KB
    if (end > static_cast<int64_t>(loaded.size())) {
      SkipError("Do_20h:", 0);
      return;
    }
  }

  // Read every entry before acting on any, so that a damaged list changes
  // nothing.
  std::vector<ListEntry> entries;
  int64_t lastRef = 0;
  const Long records = Mft_Record_Count();
  for (int64_t e = start; e < end;) {
    const int64_t elen = e + kListEntryHeader <= end ? I16(list, e + 4) : 0;
    if (elen < kListEntryHeader || e + elen > end) {
      SkipError("Do_20h:", lastRef);
      return;
    }
    ListEntry entry;
    entry.type = U8(list, e);
    const uint64_t ref = U64(list, e + 0x10) & kRecordNumberMask;
    lastRef = static_cast<int64_t>(std::min<uint64_t>(ref, INT32_MAX));
    // Record 0's list is read while its own segments are still being
    // gathered; its references are checked when they are read.
    if (ref > INT32_MAX || (RecordNumber != 0 && static_cast<int64_t>(ref) >= records)) {
      ErrorState.ErrorWhere = "Do_20h: " + Str(lastRef);
      Rec_Error(kBeyondMftText, list);
      return;
    }
    entry.ref = static_cast<int32_t>(ref);
    entry.lowestVcn = I64(list, e + 8);
    entry.instance = U16(list, e + 0x18);
    entry.fits = NameFits(entry.type, list, e + U8(list, e + 7), U8(list, e + 6));
    entries.push_back(entry);
    e += elen;
  }

  // Every other record the list names belongs to this file.
  for (const ListEntry& e : entries)
    if (e.ref != RecordNumber) Mark_Seen(e.ref);

  RecordSet recordSet(RecordNumber, &Buffer);
  for (const ListEntry& e : entries) {
    if (e.type != kFileName) continue;
    if (e.ref != RecordNumber) TakeName(recordSet, e, Info);
    break;  // the first $FILE_NAME is the file's name
  }
  if (ErrorsCounted()) return;

  // A folder's segments are its $I30 index allocation, a file's its unnamed
  // data; each is gathered in VCN order from whichever record holds it.
  bool folder = false;
  for (const ListEntry& e : entries) {
    if (e.fits && (e.type == kIndexRoot || e.type == kIndexAllocation)) Info.IsDirectory = kTrue;
    if (e.fits && e.type == kIndexAllocation) folder = true;
  }
  const int wanted = folder ? kIndexAllocation : kData;
  std::vector<ListEntry> extents;
  std::vector<ListEntry> mftBitmap;
  for (const ListEntry& e : entries) {
    if (e.fits && e.type == wanted) extents.push_back(e);
    if (e.fits && e.type == kBitmap && RecordNumber == 0) mftBitmap.push_back(e);
  }
  auto byVcn = [](const ListEntry& x, const ListEntry& y) { return x.lowestVcn < y.lowestVcn; };
  std::stable_sort(extents.begin(), extents.end(), byVcn);
  std::stable_sort(mftBitmap.begin(), mftBitmap.end(), byVcn);

  Long total = 0, sparseTotal = 0;
  Integer done = 0;
  for (const ListEntry& e : extents) {
    Long clusters, sparse;
    const Integer compressed =
        GatherExtent(recordSet, wanted, done, e.ref, Lengths, Lcns, Info.Size, Count, clusters,
                     sparse, Info.IsDirectory, RecordNumber, e.lowestVcn);
    if (ErrorState.ReadFault != 0 || ErrorsCounted()) return;
    if (done == 0 && wanted == kData) Info.Compressed = compressed;
    total += clusters;
    sparseTotal += sparse;
    done += 1;
  }
  for (const ListEntry& e : mftBitmap) {
    Long clusters, sparse, size;
    Integer c = 0;
    GatherExtent(recordSet, kBitmap, 1, e.ref, Lengths, Lcns, size, c, clusters, sparse,
                 Info.IsDirectory, RecordNumber, e.lowestVcn);
    if (ErrorState.ReadFault != 0 || ErrorsCounted()) return;
  }
  Info.Clusters = total;
  if (!extents.empty()) Info.SparseClusters = sparseTotal;
  Lengths.ReDimPreserve(Count);
  Lcns.ReDimPreserve(Count);
}

Integer Do_x0h(Integer Type, Integer EntriesDone, Long RecordRef, VbArray<Long>& Lengths,
               VbArray<Long>& Lcns, Long& Size, Integer& Count, Long& Clusters,
               Integer& IsDirectory, Long BaseRecord) {
  RecordSet records(BaseRecord, nullptr);
  Long sparse;
  return GatherExtent(records, Type, EntriesDone, RecordRef, Lengths, Lcns, Size, Count, Clusters,
                      sparse, IsDirectory, BaseRecord, -1);
}

void Load_20h_Data(Bytes Buffer, Long AttributeOffset, ByteArray& Data, VbArray<Long>& Lengths,
                   VbArray<Long>& Lcns) {
  try {
    const int64_t a = AttributeOffset;
    const Long start = a + U16(Buffer, a + 0x20);
    const Long end = std::min<int64_t>(a + U32(Buffer, a + 4), static_cast<int64_t>(Buffer.size()));
    Lengths.ReDim(10);
    Lcns.ReDim(10);
    Integer n = 0;
    Long clusters, sparse;
    const bool markBefore = PendingMark();
    Decode_Segments(n, Buffer, start, end, Lengths, Lcns, clusters, sparse);
    if (!markBefore && PendingMark()) ClearMark();  // a list is never compressed
    Lengths.ReDimPreserve(n);
    Lcns.ReDimPreserve(n);
    Data.ReDim(-1);
    if (ErrorsCounted()) return;
    if (sparse != 0) {  // the list's bytes would not follow each other
      ErrorState.ErrorWhere = "Load_20h_Data";
      Rec_Error("SegErr", Buffer);
      return;
    }
    const Long spc = VolumeSession.SectorsPerCluster;
    Data.ReDim(int64_t{(clusters * spc * kSectorSize).Value()} - 1);
    int64_t at = 0;
    for (int64_t i = 1; i <= n; ++i) {
      const Long bytes = Lengths(i) * spc * kSectorSize;
      if (!Raw_Read(Lcns(i) * spc, Data.Span().subspan(static_cast<size_t>(at), bytes.Value())))
        return;
      at += bytes;
    }
  } catch (const RunError& e) {
    if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = "Load_20h_Data";
    Rec_Error(e.Description(), Buffer);
  }
}

}  // namespace vr
