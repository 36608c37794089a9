// Attribute lists: a file whose attributes do not fit its base FILE record
// names the records that hold them in its $ATTRIBUTE_LIST. The list is read
// whole before it is acted on; its extents are gathered in VCN order, each
// extension record is read once and must name the file as its base.
#include "ntfs/attribute_list.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/record_bytes.h"
#include "ntfs/run_list.h"
#include "platform/ntfs_layout.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

std::function<void(const VbArray<Long>&, const VbArray<Long>&)> Paint_20h_Hook;

namespace {

constexpr int kListEntryHeader = 0x1A;  // fixed part of an attribute-list entry

bool PendingMark() { return ErrorState.AlignmentMark != 0; }
void ClearMark() { ErrorState.AlignmentMark = 0; }

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
    if (!AnyErrorCounted()) Rec_Error("Kind", b);
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
  if (pos < 0 && !AnyErrorCounted()) pos = FindAttribute(b, kFileName, -1, -1, e.ref);
  if (pos < 0) {
    if (!AnyErrorCounted()) Rec_Error("Kind", b);
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
    if (AnyErrorCounted()) return;
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
  if (AnyErrorCounted()) return;

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
    if (ErrorState.ReadFault != 0 || AnyErrorCounted()) return;
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
    if (ErrorState.ReadFault != 0 || AnyErrorCounted()) return;
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
    if (AnyErrorCounted()) return;
    if (sparse != 0) {  // the list's bytes would not follow each other
      ErrorState.ErrorWhere = "Load_20h_Data";
      Rec_Error("SegErr", Buffer);
      return;
    }
    const Long spc = VolumeSession.SectorsPerCluster;
    // NTFS keeps an attribute list within 256 KB; a damaged record claiming
    // more must not make the program allocate and read that much.
    if (int64_t{clusters} * spc * kSectorSize > kMaxAttributeListBytes) {
      ErrorState.ErrorWhere = "Load_20h_Data";
      Rec_Error("SegErr", Buffer);
      return;
    }
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
