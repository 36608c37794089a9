// The Checked View's walk of the directory tree: every folder's index root,
// its index blocks in key order, and every file reached through them decoded
// once, tallied, checked and painted.
#include <set>

#include "map/mark_segments.h"
#include "ntfs/file_record.h"
#include "ntfs/index_block.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs/ntfs_scan_internal.h"
#include "ntfs/record_bytes.h"
#include "ntfs/run_list.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/ui.h"

namespace vr {

namespace {

constexpr int kNamedEntryMin = 88;  // header, file name attribute and one character
constexpr int kEntryHeader = 16;
constexpr int kSubNode = 0x01;
constexpr int kLastEntry = 0x02;
constexpr int64_t kMaxBlockOffset = 32759;

bool Stopped() { return ErrorState.Failed != 0 || AnyErrorCounted(); }

// Whether the attribute at At of a FILE record is named "$I30".
bool Named_I30(Bytes b, int64_t At) {
  const int length = U8(b, At + 9);
  if (length != 4) return false;
  const int64_t name = At + U16(b, At + 10);
  const char* want = "$I30";
  for (int i = 0; i < 4; ++i)
    if (U16(b, name + 2 * i) != static_cast<uint8_t>(want[i])) return false;
  return true;
}

// One entry of an index node: decodes and processes its file when it is met
// for the first time, descends into its sub-node and into the folder it
// names. False when the node's walk must end (the last entry, or a stop).
bool Do_Entry(Bytes b, int64_t At, int64_t End, bool InBlock, const VbArray<Long>& FolderLengths,
              const VbArray<Long>& FolderLcns, Integer Folder, std::set<int64_t>& Visited,
              const char* Where) {
  const int64_t length = U16(b, At + 8);
  if (length < kEntryHeader || At + length > End) {
    Scan_Fault("Skip", Where);
    return false;
  }
  const int flags = U8(b, At + 12);
  const bool subNode = (flags & kSubNode) != 0 && length >= kEntryHeader + 8;
  const Long vcn = subNode ? Long(I32(b, At + length - 8)) : Long(0);

  if (length < kNamedEntryMin || (flags & kLastEntry) != 0) {
    // The end entry: only its sub-node remains.
    if (subNode) Dir_Tree(vcn, FolderLengths, FolderLcns, Folder, Visited);
    return false;
  }

  const Long record = Long(I32(b, At));
  if (record < 0 || record >= RecordCount) {
    Scan_Fault(kBeyondMftText + " " + Str(record), Where);
    return false;
  }
  if (InBlock && record == 5) DoNotMove(5) = 1;

  bool firstTime = false;
  RecordInfo info{};
  VbArray<Long> lengths(0), lcns(0);
  ByteArray buffer(0);
  if (FragmentState(record) == 0) {
    Decode_FILE(VolumeSession.VolumeHandle, record, lengths, lcns, buffer, info);
    if (Stopped()) return false;
    FolderIndex(record) = Folder;
    firstTime = true;
    if (record == 11 && info.Name == "$Extend") Enter_Extend(record);
    if (Inside_Extend()) Note_Extend(record);
    Process_File(record, info, lengths, lcns, buffer, InBlock);
    if (Stopped()) return false;
  }
  if (subNode) {
    Dir_Tree(vcn, FolderLengths, FolderLcns, Folder, Visited);
    if (Stopped()) return false;
  }
  if (firstTime && info.IsDirectory != 0 && info.Name != "." && record != 5) {
    const Integer sub = Add_Folder(Folder, info.Name);
    const bool extend = Is_Extend_Object(record);
    if (extend) Extend_Depth(+1);
    Root_Dir_Tree(buffer, lengths, lcns, sub);
    if (extend) Extend_Depth(-1);
  }
  return !Stopped();
}

}  // namespace

void Root_Dir_Tree(ByteArray& Buffer, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
                   Integer Folder) {
  MainWindow().DoEvents();
  if (ErrorState.Failed != 0) return;
  const Integer savedBlock = VolumeSession.SectorsPerIndexBlock;
  try {
    Bytes b = Buffer.Span();
    const Long record = Long(I32(b, 44));
    int64_t at = U16(b, 20);
    int64_t listAt = -1;
    bool found = false;
    const int64_t used = std::min<int64_t>(U32(b, 24), static_cast<int64_t>(b.size()));
    while (at + 8 <= used) {
      const int type = U8(b, at);
      const int64_t length = U16(b, at + 4);
      if (type == 0xFF || length == 0) break;
      if (length >= 0x8000) {
        Scan_Fault("Skip", "Root_Dir_Tree");
        return;
      }
      if (type == 0x20) listAt = at;
      if (type == 0x90 && Named_I30(b, at)) {
        found = true;
        break;
      }
      at += length;
    }
    if (!found && listAt >= 0) {
      Long attr = Long(listAt);
      Integer foundType = 0;
      Scan_20h_for_90h(Buffer, record, attr, foundType);
      if (Stopped()) return;
      found = foundType == 0x90;
      at = attr;
      b = Buffer.Span();
    }
    if (!found) {
      Scan_Fault("&H90", "Root_Dir_Tree");
      return;
    }

    // The index root gives this folder's index block size.
    const int64_t value = at + U16(b, at + 20);
    const Integer blockSectors = Integer(U32(b, value + 8) / kSectorSize);
    if (blockSectors > 0) VolumeSession.SectorsPerIndexBlock = blockSectors;

    // The node header follows the 16-byte index root header.
    const int64_t node = value + 16;
    int64_t entry = node + U32(b, node);
    const int64_t end = std::min<int64_t>(node + U32(b, node + 4), at + U16(b, at + 4));
    std::set<int64_t> visited;
    while (entry + kEntryHeader <= end) {
      const int64_t length = U16(b, entry + 8);
      if (!Do_Entry(b, entry, end, false, Lengths, Lcns, Folder, visited, "Root_Dir_Tree")) break;
      entry += length;
    }
  } catch (const RunError& e) {
    Trap_Error("Root_Dir_Tree", e.Number(), e.Description());
  }
  VolumeSession.SectorsPerIndexBlock = savedBlock;
}

void Dir_Tree(Long Vcn, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns, Integer Folder,
              std::set<int64_t>& Visited) {
  if (ErrorState.Failed != 0) return;
  // A sub-node met again would walk the same entries again, and a damaged
  // index could lead round in a circle.
  if (!Visited.insert(Vcn).second) {
    Scan_Fault("VCN " + Str(Vcn) + " twice", "Dir_Tree");
    return;
  }
  ByteArray block(0);
  if (!Read_INDX(Vcn, Lengths, Lcns, block)) return;
  try {
    Bytes b = block.Span();
    int64_t entry = 24 + U8(b, 24);
    const int64_t end = std::min<int64_t>(24 + U32(b, 28), static_cast<int64_t>(b.size()));
    while (entry + kEntryHeader <= end && entry <= kMaxBlockOffset) {
      const int64_t length = U16(b, entry + 8);
      if (!Do_Entry(b, entry, end, true, Lengths, Lcns, Folder, Visited, "Dir_Tree")) break;
      entry += length;
    }
  } catch (const RunError& e) {
    Trap_Error("Dir_Tree", e.Number(), e.Description());
  }
}

void Scan_20h_for_90h(ByteArray& Buffer, Long /*RecordNumber*/, Long& AttributeOffset,
                      Integer& FoundType) {
  FoundType = 0;
  try {
    Bytes b = Buffer.Span();
    const int64_t at = AttributeOffset;
    ByteArray list(0);
    int64_t first = 0, last = 0;
    if (U8(b, at + 8) == 0) {
      // Resident: the entries lie in the record itself.
      list = Buffer;
      first = at + U16(b, at + 20);
      last = first + U32(b, at + 16);
    } else {
      VbArray<Long> lengths(0), lcns(0);
      Load_20h_Data(b, at, list, lengths, lcns);
      if (Stopped()) return;
      first = 0;
      last = std::min<int64_t>(U32(b, at + 48), static_cast<int64_t>(list.size()));
    }
    Bytes l = list.Span();
    Long previous = 0;
    for (int64_t e = first; e + 26 <= last;) {
      const int type = U8(l, e);
      const int64_t length = U16(l, e + 4);
      if (length < 1) {
        Scan_Fault("Ln: " + Str(previous), "Scan_20h_for_90h");
        return;
      }
      const Long ref = Long(I32(l, e + 16));
      previous = ref;
      if (type == 0x90 && U8(l, e + 6) == 4) {
        const int64_t nameAt = e + U8(l, e + 7);
        const bool i30 = U16(l, nameAt) == '$' && U16(l, nameAt + 2) == 'I' &&
                         U16(l, nameAt + 4) == '3' && U16(l, nameAt + 6) == '0';
        if (i30) {
          if (ref < 0 || ref >= RecordCount) {
            Scan_Fault(kBeyondMftText + " " + Str(ref), "Scan_20h_for_90h");
            return;
          }
          if (!(Read_FILE_Hook ? Read_FILE_Hook(Buffer, ref) : Read_FILE(Buffer, ref))) return;
          Bytes x = Buffer.Span();
          if (Get_Text(x, 0, 4) != "FILE") {
            Scan_Fault("FILE", "Scan_20h_for_90h");
            return;
          }
          if (VolumeSession.SharedMode == 0 && !Fixup_FILE(Buffer.Span())) {
            Scan_Fault("FILE", "Scan_20h_for_90h");
            return;
          }
          Mark_Seen(ref);
          x = Buffer.Span();
          const int64_t used = std::min<int64_t>(U32(x, 24), static_cast<int64_t>(x.size()));
          for (int64_t a = U16(x, 20); a + 8 <= used;) {
            const int t = U8(x, a);
            const int64_t n = U16(x, a + 4);
            if (t == 0xFF || n == 0) break;
            if (t == 0x90 && Named_I30(x, a)) {
              AttributeOffset = Long(a);
              FoundType = 0x90;
              return;
            }
            a += n;
          }
          Scan_Fault("Scan20490", "Scan_20h_for_90h");
          return;
        }
      }
      e += length;
    }
  } catch (const RunError& e) {
    Trap_Error("Scan_20h_for_90h", e.Number(), e.Description());
  }
}

}  // namespace vr
