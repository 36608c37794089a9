#include "ntfs/file_record.h"

#include <algorithm>
#include <string>

#include "ntfs/mft.h"
#include "ntfs/record_bytes.h"
#include "ntfs/run_list.h"
#include "platform/ntfs_layout.h"
#include "platform/update_sequence.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

VbArray<Long> SecurityLengths(0), SecurityLcns(0);
VbArray<Long> MftBitmapLengths(0), MftBitmapLcns(0);
// Records come from the MFT loader unless a test installs other hooks.
FileRecordReader Read_FILE_Hook = Read_FILE;
AttributeListHandler Do_20h_Hook = Do_20h;

namespace {

// Smallest attribute header (resident, unnamed); anything shorter, a length
// of 0x8000 or more, or one that runs past the bytes in use is damage.
constexpr int64_t kMinAttributeLength = 0x18;
constexpr int64_t kMaxAttributeLength = 0x8000;
// Records from here on are the users'; the reserved ones below may be free.
constexpr int64_t kFirstCheckedInUse = 16;

bool PendingMark() { return ErrorState.AlignmentMark != 0; }
void ClearMark() { ErrorState.AlignmentMark = 0; }

// The header fields the attribute walk and the fixup rely on, against the
// record size: the update sequence (one number per sector plus one, inside
// the first sector), the first attribute after it, the bytes in use within
// the allocated size, and the allocated size itself. Anything else is the
// error "Record n header".
bool HeaderInRange(Long RecordNumber, Bytes b) {
  const int64_t size = int64_t{VolumeSession.SectorsPerFileRecord.Value()} * kSectorSize;
  if (size <= 0 || static_cast<int64_t>(b.size()) < size) return true;  // Fixup_FILE's matter
  const int64_t usa = U16(b, 4);
  const int64_t usaCount = U16(b, 6);
  const int64_t first = U16(b, 0x14);
  const int64_t used = U32(b, 0x18);
  const int64_t allocated = U32(b, 0x1C);
  const bool ok = usa >= 0x28 && usa % 2 == 0 && usaCount == size / kSectorSize + 1 &&
                  usa + 2 * usaCount <= kSectorSize - 2 && first >= usa + 2 * usaCount &&
                  first % 8 == 0 && first + 8 <= used && used <= allocated && allocated == size;
  if (ok) return true;
  Rec_Error("Record " + Str(RecordNumber) + " header", b);
  return false;
}

// Decodes one attribute's runs. Compression units are 16 clusters only in a
// compressed attribute; in any other one (an NTFS 3.x sparse file, $BadClus)
// holes may end anywhere, so the alignment mark of this decode is dropped.
void DecodeRuns(Integer& Count, Bytes b, Long Start, Long End, VbArray<Long>& Lengths,
                VbArray<Long>& Lcns, Long& Clusters, Long& Sparse, bool compressed) {
  const bool markBefore = PendingMark();
  Decode_Segments(Count, b, Start, End, Lengths, Lcns, Clusters, Sparse);
  if (!compressed && !markBefore && PendingMark()) ClearMark();
}

void BeginDecode(Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns, RecordInfo& Info) {
  Info.Name.clear();
  Info.SecurityNonResident = kFalse;
  Info.Compressed = kFalse;
  Info.IsDirectory = kFalse;
  Info.HasAttributeList = kFalse;
  Info.Size = 0;
  Info.Clusters = 0;
  Info.ResidentData = kFalse;
  Lengths.ReDim(10);
  Lcns.ReDim(10);
  if (RecordNumber == 0) {  // the $MFT's first clusters, until record 0 tells
    Lengths(1) = 32;
    Lcns(1) = VolumeSession.MftLcn;
  }
}

// The closing check: any error counted during the decode (or a run-time
// error trapped) gets its context and one more count, and stops the pass.
void CloseErrors(const std::string& runTimeText, const RecordInfo& Info, bool trapped) {
  if (!trapped && ErrorState.ErrorCount == 0) return;
  if (ErrorState.ErrorText.empty()) {
    ErrorState.ErrorText = runTimeText;
    ErrorState.InternalFault = kTrue;
  }
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = "Decode:" + Info.Name;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
}

// Steps of the decode up to the end of the attribute walk. Returns false when
// the decode ends at once (nothing further applies).
bool WalkRecord(Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns, ByteArray& Buffer,
                RecordInfo& Info, Integer& count) {
  Bytes b = Buffer.Span();
  if (Buffer.size() < 4 || Get_Text(b, 0, 4) != "FILE") {
    Rec_Error("FILE", b);
    return false;
  }
  if (!HeaderInRange(RecordNumber, b)) return false;
  if (!Fixup_FILE(Buffer.Span())) return false;

  Long pos = U8(b, kRecordFirstAttribute.offset);  // the low byte, as NT 4.0 read it
  if (U8(b, pos) != kStandardInformation) {        // an extension record
    // A record that names no base record is a base record: without its
    // $STANDARD_INFORMATION first it cannot be read as a file.
    if ((U64(b, 0x20) & kRecordNumberMask) == 0 && (U16(b, 0x16) & 1) != 0) {
      Rec_Error("Record " + Str(RecordNumber) + " header", b);
      return false;
    }
    Lengths.ReDim(1);
    Lcns.ReDim(1);
    return false;
  }
  // A user's file reached by the walk (or in use by the MFT's bitmap) whose
  // own header says the record is free: one of the two is wrong.
  if (RecordNumber >= kFirstCheckedInUse && (U16(b, 0x16) & 1) == 0) {
    Rec_Error("Record " + Str(RecordNumber) + " header", b);
    return false;
  }
  const int64_t used =
      std::min<int64_t>(GetField(b, kRecordBytesInUse), static_cast<int64_t>(Buffer.size()));
  bool listGathered = false;  // the attribute list has supplied the runs
  while (pos < used) {
    const int type = U8(b, pos);
    if (type == kEndMarker) {
      // Only the whole end marker ends the walk; its low byte alone is damage.
      if (GetField(b, kAttrType, pos) != kTypeEnd)
        Rec_Error("Record " + Str(RecordNumber) + " attribute", b);
      break;
    }
    const int64_t len = static_cast<int64_t>(GetField(b, kAttrLength, pos));
    if (len < kMinAttributeLength || len >= kMaxAttributeLength || pos + len > used) {
      Rec_Error("Skip", b);
      break;
    }
    // The name lies inside the attribute.
    const int64_t nameLength = U8(b, pos + 9);
    if (nameLength != 0 && U16(b, pos + 0x0A) + 2 * nameLength > len) {
      Rec_Error("Skip", b);
      break;
    }
    if (Attribute_Damaged(b, pos, len)) {
      Rec_Error("Record " + Str(RecordNumber) + " attribute", b);
      break;
    }
    const Long end = pos + len;
    const bool nonResident = GetField(b, kAttrNonResident, pos) == 1;
    const bool unnamed = GetField(b, kAttrNameLength, pos) == 0;
    switch (type) {
      case kStandardInformation: Info.DosAttributes = U8(b, pos + 56); break;

      case kAttributeList:
        Info.HasAttributeList = kTrue;
        if (Do_20h_Hook) {
          Do_20h_Hook(RecordNumber, Buffer, pos, Lengths, Lcns, Info, count);
          listGathered = true;
        }
        if (AnyErrorCounted()) return true;
        break;

      case kFileName:
        if (Info.Name.empty()) {
          if (U8(b, pos + 88) == 0) {
            Rec_Error("InvName", b);
            return false;
          }
          Info.Name = Get_Name(b, pos + 88);
        }
        break;

      case kSecurityDescriptor:
        if (nonResident && len >= 72) {
          const int h = U8(b, pos + 64);
          if (h != 0 && h < 0x45 && (h & 15) < 5) {
            Info.SecurityNonResident = kTrue;
            Integer n = 0;
            Long clusters, sparse;
            DecodeRuns(n, b, pos + 64, end, SecurityLengths, SecurityLcns, clusters, sparse, false);
            SecurityLengths.ReDimPreserve(n);
            SecurityLcns.ReDimPreserve(n);
          }
        }
        break;

      case kData:
        if (!unnamed) break;  // named streams never count as the file's data
        if (!nonResident) {
          const Long valueLength = Get_Num(b, pos + 16, 4);
          if (valueLength != 0) {
            Info.Size = valueLength;
            Info.ResidentData = kTrue;
          }
        } else if (len >= 72) {
          const bool compressed = U8(b, pos + kAttrFlags.offset) != 0;
          // Only the extent that starts at VCN 0 carries the sizes; a later
          // one never overwrites what the attribute list gathered.
          if (listGathered && GetField(b, kAttrLowestVcn, pos) != 0) break;
          Info.Compressed = Flag(compressed);
          Info.Size = Get_Num(b, pos + 0x30, 4);  // data size, not initialized size
          if (count == 0 && !listGathered) {
            DecodeRuns(count, b,
                       pos + static_cast<int64_t>(GetField(b, kAttrMappingPairsOffset, pos)), end,
                       Lengths, Lcns, Info.Clusters, Info.SparseClusters, compressed);
          }
        }
        break;

      case kIndexRoot:
        if (Is_I30_Attribute(b, pos)) {
          Info.IsDirectory = kTrue;
          if (len >= 48) Info.IndexBlockSize = Get_Num(b, pos + 40, 4);
        }
        break;

      case kIndexAllocation:
        if (Is_I30_Attribute(b, pos)) {
          Info.IsDirectory = kTrue;
          // The index runs replace data runs of this record, never extents an
          // attribute list has gathered.
          if (!listGathered) {
            count = 0;
            Info.Clusters = 0;
            if (nonResident && len >= 80) {
              Info.Size = Get_Num(b, pos + 0x28, 4);
              DecodeRuns(count, b, pos + 72, end, Lengths, Lcns, Info.Clusters, Info.SparseClusters,
                         false);
            }
          }
        }
        break;

      case kBitmap:
        if (RecordNumber == 0 && nonResident && unnamed && len >= 72) {
          Integer n = 0;
          Long clusters, sparse;
          DecodeRuns(n, b, pos + static_cast<int64_t>(GetField(b, kAttrMappingPairsOffset, pos)),
                     end, MftBitmapLengths, MftBitmapLcns, clusters, sparse, false);
          MftBitmapLengths.ReDimPreserve(n);
          MftBitmapLcns.ReDimPreserve(n);
        }
        break;

      default: break;
    }
    if (AnyErrorCounted()) break;
    pos = end;
  }
  return true;
}

}  // namespace

bool Fixup_FILE(MutableBytes Buffer) {
  const int64_t n = VolumeSession.SectorsPerFileRecord;
  if (n < 1 || static_cast<int64_t>(Buffer.size()) < n * kSectorSize) {
    Rec_Error("Fixup", Buffer);
    return false;
  }
  // A torn or damaged record is left exactly as read.
  const int result = PostReadFixup(Buffer.first(static_cast<size_t>(n * kSectorSize)), n);
  if (result == kUsaIntact || VolumeSession.SharedMode != 0) return true;
  Rec_Error("Fixup", Buffer);
  return false;
}

void Decode_FILE_Record(Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns,
                        ByteArray& Buffer, RecordInfo& Info) {
  BeginDecode(RecordNumber, Lengths, Lcns, Info);
  try {
    Integer count = 0;
    if (!WalkRecord(RecordNumber, Lengths, Lcns, Buffer, Info, count)) return;
    Lengths.ReDimPreserve(count);
    Lcns.ReDimPreserve(count);
    if (RecordNumber == 0 && Info.Name.empty()) Info.Name = "$MFT";
    if (PendingMark()) {
      ClearMark();
      if (!(RecordNumber == 8 && !AnyErrorCounted())) {
        ErrorState.RecordFault = kTrue;
        ErrorState.ErrorText = "Seg " + Str(RecordNumber) + Info.Name;
      }
    }
    CloseErrors("", Info, false);
  } catch (const RunError& e) {
    if (PendingMark()) ClearMark();  // the mark belonged to this record
    CloseErrors(e.Description(), Info, true);
  }
}

void Decode_FILE(Long /*VolumeHandle*/, Long RecordNumber, VbArray<Long>& Lengths,
                 VbArray<Long>& Lcns, ByteArray& Buffer, RecordInfo& Info) {
  BeginDecode(RecordNumber, Lengths, Lcns, Info);
  try {
    bool read = false;
    if (Read_FILE_Hook) {
      read = Read_FILE_Hook(Buffer, RecordNumber);
    } else {  // no reader installed: the record cannot be read
      ErrorState.ErrorWhere = "LFB: " + Str(RecordNumber);
      Rec_Error("Error reading MFT", Buffer.Span());
    }
    if (!read) return;
  } catch (const RunError& e) {
    CloseErrors(e.Description(), Info, true);
    return;
  }
  Decode_FILE_Record(RecordNumber, Lengths, Lcns, Buffer, Info);
}

}  // namespace vr
