#include "ntfs/owned_clusters.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "alloc/cluster_bitmaps.h"
#include "alloc/cluster_claims.h"
#include "map/mark_segments.h"
#include "ntfs/attribute_list.h"
#include "ntfs/attribute_types.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_scan_internal.h"
#include "ntfs/record_bytes.h"
#include "ntfs/run_list.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

namespace {

constexpr int64_t kMinAttributeLength = 0x18;
constexpr int64_t kMaxAttributeLength = 0x8000;
constexpr int kListEntryHeader = 0x1A;
constexpr uint32_t kFileSignature = 0x454C4946u;  // "FILE"

// The attributes whose runs the record decoder (or the attribute list it
// follows) collects as the file's segments or its security descriptor.
bool Collected(Bytes b, int64_t pos, bool base) {
  const int type = U8(b, pos);
  if (type == kData) return U8(b, pos + 9) == 0;
  if (type == kIndexAllocation) return Is_I30_Attribute(b, pos);
  if (type == kSecurityDescriptor && base && U32(b, pos + 4) >= 72) {
    const int h = U8(b, pos + 64);
    return h != 0 && h < 0x45 && (h & 15) < 5;
  }
  return false;
}

class Owner {
 public:
  Owner(Long record, const RecordInfo& info, bool unmovable)
      : record_(record), info_(info), unmovable_(unmovable) {}

  // Claims the runs of the non-resident attribute at pos.
  bool ClaimAttribute(Bytes b, int64_t pos) {
    const int64_t end = pos + U32(b, pos + 4);
    VbArray<Long> lengths(10), lcns(10);
    Integer n = 0;
    Long clusters, sparse;
    Decode_Segments(n, b, Long(pos + U16(b, pos + 0x20)), Long(end), lengths, lcns, clusters,
                    sparse);
    // Compression-unit alignment is the decoder's check of the file's data.
    ErrorState.AlignmentMark = 0;
    if (AnyErrorCounted()) return Fail();
    lengths.ReDimPreserve(n);
    lcns.ReDimPreserve(n);
    return Claim_Segments(record_, lengths, lcns, info_, unmovable_);
  }

  // Every non-resident attribute of one fixed-up record that the decoder
  // did not collect; the base record's attribute list leads to the rest.
  bool Walk(Bytes b, bool base, int64_t number) {
    int64_t pos = U16(b, 0x14);
    const int64_t used = std::min<int64_t>(U32(b, 0x18), static_cast<int64_t>(b.size()));
    while (pos + 8 <= used) {
      const int type = U8(b, pos);
      if (type == kEndMarker) break;
      const int64_t len = U32(b, pos + 4);
      if (len < kMinAttributeLength || len >= kMaxAttributeLength || pos + len > used) {
        Rec_Error("Skip", b);
        return Fail();
      }
      // The decoder checked the base record; an extension record's
      // resident values get the same check here.
      if (!base && Attribute_Damaged(b, pos, len)) {
        Rec_Error("Record " + Str(number) + " attribute", b);
        return Fail();
      }
      const bool nonResident = U8(b, pos + 8) != 0;
      if (nonResident && !Collected(b, pos, base) && !ClaimAttribute(b, pos)) return false;
      if (base && type == kAttributeList && !FollowList(b, pos)) return false;
      pos += len;
    }
    return true;
  }

 private:
  bool Fail() {
    if (ErrorState.ErrorWhere.empty())
      ErrorState.ErrorWhere = "Mark_Attributes: " + Str(record_.Value());
    return false;
  }

  // The extension records the list names, each walked once.
  bool FollowList(Bytes b, int64_t pos) {
    ByteArray loaded;
    Bytes list = b;
    int64_t start, end;
    if (U8(b, pos + 8) == 0) {
      start = pos + U16(b, pos + 0x14);
      end = std::min<int64_t>(start + U32(b, pos + 0x10), pos + U32(b, pos + 4));
    } else {
      VbArray<Long> runLengths, runLcns;
      Load_20h_Data(b, Long(pos), loaded, runLengths, runLcns);
      if (AnyErrorCounted() || ErrorState.ReadFault != 0) return Fail();
      list = loaded.Span();
      start = 0;
      end = std::min<int64_t>(U32(b, pos + 0x30), static_cast<int64_t>(loaded.size()));
    }
    std::vector<int64_t> refs;
    for (int64_t e = start; e + kListEntryHeader <= end;) {
      const int64_t elen = U16(list, e + 4);
      if (elen < kListEntryHeader) break;  // the decoder has judged the list already
      const int64_t ref = static_cast<int64_t>(U64(list, e + 0x10) & kRecordNumberMask);
      if (ref != record_ && std::find(refs.begin(), refs.end(), ref) == refs.end())
        refs.push_back(ref);
      e += elen;
    }
    for (const int64_t ref : refs) {
      if (ref >= Mft_Record_Count()) continue;  // "Beyond MFT" is the decoder's
      ByteArray x;
      if (!(Read_FILE_Hook ? Read_FILE_Hook(x, Long(ref)) : Read_FILE(x, Long(ref)))) return Fail();
      const Bytes xb = x.Span();
      if (x.size() < 0x30 || U32(xb, 0) != kFileSignature) {
        Rec_Error("FILE", xb);
        return Fail();
      }
      if (!Fixup_FILE(x.Span())) return Fail();
      // Only a record that names this file as its base lends it clusters.
      if ((U64(xb, 0x20) & kRecordNumberMask) != static_cast<uint64_t>(record_.Value())) continue;
      if (!Walk(x.Span(), false, ref)) return false;
    }
    return true;
  }

  Long record_;
  const RecordInfo& info_;
  bool unmovable_;
};

}  // namespace

bool Claim_Segments(Long Record, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
                    const RecordInfo& Info, bool Unmovable) {
  const int64_t fault = Mark_Segments_Used(Lengths, Lcns);
  Mark_Segments(Lengths, Lcns, Info, Unmovable);
  if (fault == kClaimFree) return true;
  const std::string who = Str(Record.Value()) + " " + Printable(Info.Name);
  if (fault == kClaimOutside) {
    Scan_Fault("Bitmap " + who, "Mark_Segments");
  } else {
    Scan_Fault("Crosslinked " + who, "Cluster " + Str(fault));
  }
  return false;
}

bool Mark_Attributes(Long Record, const ByteArray& Buffer, const RecordInfo& Info, bool Unmovable) {
  try {
    Owner owner(Record, Info, Unmovable);
    return owner.Walk(Buffer.Span(), true, Record.Value());
  } catch (const RunError& e) {
    Trap_Error("Mark_Attributes", e.Number(), e.Description());
    return false;
  }
}

}  // namespace vr
