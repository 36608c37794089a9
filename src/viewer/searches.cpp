#include "viewer/searches.h"

#include <algorithm>
#include <cctype>

#include "alloc/allocation_state.h"
#include "ntfs/attribute_types.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/record_bytes.h"
#include "viewer/name_pattern.h"
#include "viewer/record_walk.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

namespace {

constexpr int64_t kOneMb = 1048577;
constexpr int64_t kNonResidentHeader = 72;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The record read and fixed up as the walk-based searches see it. Errors of
// the fixup are forgotten (the viewer shows records as they are); a failed
// read of the volume is kept.
bool Read_Record(Long RecordNumber, ByteArray& Buffer) {
  const ErrorStateData before = ErrorState;
  if (!Read_FILE(Buffer, RecordNumber)) {
    if (ErrorState.ReadFault == 0) ErrorState = before;
    return false;
  }
  Fixup_FILE(Buffer.Span());
  ErrorState = before;
  return true;
}

int Count_Type(const std::vector<AttributeRef>& attributes, uint32_t type) {
  return static_cast<int>(std::count_if(attributes.begin(), attributes.end(),
                                        [&](const AttributeRef& a) { return a.type == type; }));
}

bool Name_Matches(Bytes b, const std::vector<AttributeRef>& attributes,
                  const std::string& pattern) {
  for (const AttributeRef& a : attributes) {
    int64_t value = 0, length = 0;
    if (a.type != kFileName || !Resident_Value(b, a, value, length) || length < 0x42) continue;
    const int64_t chars = static_cast<int64_t>(Safe_LE(b, value + 0x40, 1));
    if (!In_Buffer(b, value + 0x42, 2 * chars)) continue;
    if (Pattern_Match(Lower(Get_Name(b, value + 0x40)), pattern)) return true;
  }
  return false;
}

bool Type_In_Attribute_List(Bytes b, const std::vector<AttributeRef>& attributes, uint32_t type) {
  for (const AttributeRef& a : attributes) {
    int64_t value = 0, length = 0;
    if (a.type != kAttributeList || !Resident_Value(b, a, value, length)) continue;
    for (int64_t at = value; at + 8 <= value + length;) {
      if (Safe_LE(b, at, 4) == type) return true;
      const int64_t entryLength = static_cast<int64_t>(Safe_LE(b, at + 4, 2));
      if (entryLength == 0) break;
      at += entryLength;
    }
  }
  return false;
}

bool Walk_Matches(FindKind kind, const FindArgs& args, Bytes b) {
  const std::vector<AttributeRef> attributes = Walk_Attributes(b);
  switch (kind) {
    case FindKind::FileName: return Name_Matches(b, attributes, args.pattern);
    case FindKind::Subdir:
      return Count_Type(attributes, kIndexRoot) + Count_Type(attributes, kIndexAllocation) > 0;
    case FindKind::EntryX0h: return Count_Type(attributes, args.type) > 0;
    case FindKind::EntryX0hIn20h: return Type_In_Attribute_List(b, attributes, args.type);
    case FindKind::B0hInNonIndex:
      for (const AttributeRef& a : attributes) {
        if (a.type == kIndexRoot) return false;
        if (a.type == kBitmap) return true;
      }
      return false;
    case FindKind::Special:
      return !attributes.empty() && attributes.front().type != kStandardInformation;
    case FindKind::EmbedData:
      // Residency is the non-resident flag: at offset 16 a non-resident
      // attribute holds its lowest VCN, not a value length.
      return std::any_of(attributes.begin(), attributes.end(), [&](const AttributeRef& a) {
        return a.type == kData && !a.nonResident && Safe_LE(b, a.offset + 16, 4) != 0;
      });
    case FindKind::SizeOver1Mb:
      return std::any_of(attributes.begin(), attributes.end(), [&](const AttributeRef& a) {
        return a.type == kData && a.nonResident && Safe_LE(b, a.offset + 16, 8) == 0 &&
               static_cast<int64_t>(Safe_LE(b, a.offset + 0x38, 8)) >= kOneMb;
      });
    case FindKind::TwoNames: return Count_Type(attributes, kFileName) >= 2;
    case FindKind::Security:
      return std::any_of(attributes.begin(), attributes.end(), [](const AttributeRef& a) {
        return a.type == kSecurityDescriptor && a.nonResident && a.length >= kNonResidentHeader;
      });
    case FindKind::OddszIndex:
      for (const AttributeRef& a : attributes)
        if (a.type == kIndexRoot &&
            Safe_LE(b, a.offset + 40, 2) !=
                static_cast<uint64_t>(VolumeSession.SectorsPerIndexBlock.Value()) * kSectorSize)
          return true;
      return false;
    case FindKind::Multi80h: return Count_Type(attributes, kData) >= 2;
    default: return false;
  }
}

// Some segment covers a cluster the volume bitmap shows as free (or a
// cluster beyond it).
bool Covers_Free(const VbArray<Long>& lengths, const VbArray<Long>& lcns) {
  const ByteArray& bitmap = Allocation.VolumeBitmap;
  if (bitmap.empty()) return false;  // the bitmap could not be loaded
  for (int64_t i = 1; i <= lengths.UBound() && i <= lcns.UBound(); ++i) {
    const int64_t first = lcns(i).Value();
    for (int64_t c = first; c < first + lengths(i).Value(); ++c) {
      if (c < 0 || c / 8 > bitmap.UBound()) return true;
      if (!(bitmap(c / 8) & (1 << (c % 8)))) return true;
    }
  }
  return false;
}

bool Decode_Matches(FindKind kind, Long record) {
  const ErrorStateData before = ErrorState;
  ErrorState.ErrorCount = 0;
  ErrorState.Failed = 0;
  ByteArray buffer(0);
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  Decode_FILE(VolumeSession.VolumeHandle, record, lengths, lcns, buffer, info);
  const bool decodeError = AnyErrorCounted();
  const bool readFault = ErrorState.ReadFault != 0 && before.ReadFault == 0;
  if (readFault) return false;  // stays recorded: the search ends
  ErrorState = before;
  switch (kind) {
    case FindKind::Fragmented:
      return !decodeError && (lengths.UBound() > 1 ||
                              (info.SecurityNonResident != 0 && SecurityLengths.UBound() > 1));
    case FindKind::Untidy:
      return !decodeError && record > 10 && info.HasAttributeList != 0 && info.Compressed == 0;
    case FindKind::Invalid: return decodeError || (record != 8 && Covers_Free(lengths, lcns));
    case FindKind::Null:
      return !decodeError && info.IsDirectory == 0 && info.Size == 0 &&
             (info.DosAttributes & 6) != 6;
    default: return false;
  }
}

}  // namespace

const std::vector<FindMenuItem>& Find_Menu() {
  static const std::vector<FindMenuItem> items = {
      {FindKind::FileName, "&FileName"},
      {FindKind::Subdir, "&Subdir"},
      {FindKind::EntryX0h, "Entry x0h"},
      {FindKind::EntryX0hIn20h, "Entry x0h_In_20h"},
      {FindKind::B0hInNonIndex, "Find_b0h_In_nonindex"},
      {FindKind::Special, "S&pecial"},
      {FindKind::EmbedData, "&Embed Data"},
      {FindKind::SizeOver1Mb, "Size > 1Mb"},
      {FindKind::Fragmented, "&Fragmented"},
      {FindKind::Untidy, "&Untidy"},
      {FindKind::TwoNames, "&Two Names"},
      {FindKind::Invalid, "&Invalid"},
      {FindKind::Null, "&Null"},
      {FindKind::Security, "Se&curity"},
      {FindKind::OddszIndex, "&Oddsz Index"},
      {FindKind::Multi80h, "&Multi 80h"},
  };
  return items;
}

FindKind Find_By_Name(const std::string& Name) {
  for (const FindMenuItem& item : Find_Menu()) {
    std::string caption = item.caption;
    caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
    if (caption == Name) return item.kind;
  }
  return FindKind::None;
}

uint32_t Entry_Type_Answer(const std::string& Answer) {
  static const std::string kDigits = "123456789abcdef";
  const std::string a = Lower(Answer);
  if (a.empty() || a.back() != '0') return 0;
  const size_t d = kDigits.find(a.front());
  if (d == std::string::npos) return 0;
  return static_cast<uint32_t>(d + 1) * 16;
}

bool Record_Matches(FindKind Kind, const FindArgs& Args, Long RecordNumber) {
  switch (Kind) {
    case FindKind::Fragmented:
    case FindKind::Untidy:
    case FindKind::Invalid:
    case FindKind::Null: return Decode_Matches(Kind, RecordNumber);
    default: break;
  }
  ByteArray buffer(0);
  if (!Read_Record(RecordNumber, buffer)) return false;
  return Walk_Matches(Kind, Args, buffer.Span());
}

}  // namespace vr
