// Bookkeeping of one decoded record for the two NTFS scans: the file table
// row and counters, the busy test, the check of the data attribute against
// the decoded runs, and the fragmented-files list.
#include <algorithm>
#include <set>

#include "alloc/cluster_bitmaps.h"
#include "map/mark_segments.h"
#include "ntfs/file_record.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs/ntfs_scan_internal.h"
#include "ntfs/owned_clusters.h"
#include "ntfs/run_list.h"
#include "platform/nt.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

Long FirstUserRecord = 11;
Long RecordCount = 0;

namespace ntfs {
Long FileCount;
Integer FolderTotal;
Long FragPlain;
Long FragCompressed;
Integer FragAttrList;
Integer FragFolders;
Long ResidentCount;
Long CompressedCount;
Long SecuredCount;
Long AttrListCount;
Long FragmentedTotal;
Long UnmovableFragmented;
Long FragmentedFiles;
double ScanSeconds = 0;

void Reset_Counters() {
  FileCount = 0;
  FolderTotal = 0;
  FragPlain = 0;
  FragCompressed = 0;
  FragAttrList = 0;
  FragFolders = 0;
  ResidentCount = 0;
  CompressedCount = 0;
  SecuredCount = 0;
  AttrListCount = 0;
  FragmentedTotal = 0;
  UnmovableFragmented = 0;
  FragmentedFiles = 0;
  ScanSeconds = 0;
}
}  // namespace ntfs

using namespace ntfs;

namespace {

constexpr int kDosHidden = 0x02;
constexpr int kDosSystem = 0x04;

std::set<int64_t> g_extend;
int g_extendDepth = 0;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool Is_Pagefile(const RecordInfo& Info) { return Lower(Info.Name) == "pagefile.sys"; }

// Fragments of a decoded segment list: 0 when there are none.
Integer Fragments_Of(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  if (Lengths.UBound() < 1) return 0;
  return Count_Fragments(Lengths, Lcns);
}

Long Lowest_Lcn(const VbArray<Long>& Lcns) {
  Long lowest = Lcns(1);
  for (int64_t i = 2; i <= Lcns.UBound(); ++i) lowest = std::min(lowest, Lcns(i));
  return lowest;
}

void Count_Fragmented(Long Record, const RecordInfo& Info, Integer n) {
  if (Record < FirstUserRecord || n < 2) return;
  if (Info.IsDirectory != 0) {
    FragFolders += 1;
  } else if (Info.HasAttributeList != 0) {
    FragAttrList += 1;
  } else if (Info.Compressed != 0) {
    FragCompressed += 1;
  } else {
    FragPlain += 1;
  }
}

}  // namespace

void Scan_Fault(const std::string& Text, const std::string& Where) {
  if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = Text;
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = Where;
  ErrorState.RecordFault = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
}

void Enter_Extend(Long Record) { g_extend.insert(Record); }
void Note_Extend(Long Record) { g_extend.insert(Record); }
bool Inside_Extend() { return g_extendDepth > 0; }
void Extend_Depth(int Step) { g_extendDepth += Step; }
void Clear_Extend() {
  g_extend.clear();
  g_extendDepth = 0;
}
bool Is_Extend_Object(Long Record) { return g_extend.count(Record) != 0; }

int64_t File_Name_Parent(Bytes Buffer) {
  const int64_t used = std::min<int64_t>(U32(Buffer, 24), static_cast<int64_t>(Buffer.size()));
  for (int64_t at = U16(Buffer, 20); at + 8 <= used;) {
    const int type = U8(Buffer, at);
    const int64_t length = U16(Buffer, at + 4);
    if (type == 0xFF || length == 0 || length >= 0x8000) break;
    if (type == 0x30 && U8(Buffer, at + 8) == 0) {
      const int64_t value = at + U16(Buffer, at + 20);
      return U32(Buffer, value);
    }
    at += length;
  }
  return -1;
}

void Tally_Record(Long Record, const RecordInfo& Info, const VbArray<Long>& Lengths,
                  const VbArray<Long>& Lcns) {
  const bool shared = VolumeSession.SharedMode != 0;
  uint8_t flags = FileFlags(Record);
  if ((Info.DosAttributes & kDosSystem) != 0) flags |= kFlagSystem;
  if (Record < FirstUserRecord) flags |= kFlagUnmovable;
  if (shared && Is_Pagefile(Info)) flags |= kFlagUnmovable;
  if (Info.SecurityNonResident != 0) flags |= kFlagSecurity;

  const Integer n = Fragments_Of(Lengths, Lcns);
  // A state of 0 would mean "not decoded": the record would be read again.
  FragmentState(Record) = n == 32767 ? n : Integer(n + Integer(1));
  if (n > 0) {
    ClusterCount(Record) = Info.Clusters;
    FirstLcn(Record) = Lowest_Lcn(Lcns);
  }
  if (Info.Name.empty()) {
    FileFlags(Record) = flags;
    DoNotMove(Record) = 1;
    return;
  }
  FileNames(Record) = Info.Name;
  if (Info.IsDirectory != 0) flags |= kFlagFolder;
  if (Is_Extend_Object(Record)) {
    // $Extend and its files: system objects, never moved, never counted as
    // the user's files.
    FileFlags(Record) = flags | kFlagUnmovable;
    DoNotMove(Record) = 1;
    return;
  }
  if (Info.IsDirectory != 0) {
    FolderTotal += 1;
  } else {
    if (Info.Compressed != 0) {
      flags |= kFlagCompressed;
      CompressedCount += 1;
    }
    FileCount += 1;
  }
  FileFlags(Record) = flags;
  Count_Fragmented(Record, Info, n);
}

void Tally_Fast(Long Record, const RecordInfo& Info, const VbArray<Long>& Lengths,
                const VbArray<Long>& Lcns) {
  const Integer n = Fragments_Of(Lengths, Lcns);
  // The counts are the user's: the system records below the first user
  // record (the root folder among them) are not files of the user.
  if (Record >= FirstUserRecord) {
    if (Info.IsDirectory != 0) {
      FolderTotal += 1;
    } else {
      if (Info.Compressed != 0) CompressedCount += 1;
      FileCount += 1;
    }
  }
  Count_Fragmented(Record, Info, n);
}

void List_Unmovable(Long Record, const RecordInfo& Info) {
  // $Extend and its files are never listed.
  if (Is_Extend_Object(Record)) return;
  const std::string path = Folder_Path(FolderIndex(Record)) + "\\" + FileNames(Record);
  std::string tail;
  if (Info.IsDirectory != 0) {
    tail = "folder";
  } else if (DoNotMove(Record) != 0) {
    tail = "busy";
  } else {
    tail = SizeText(ClusterCount(Record) * VolumeSession.SectorsPerCluster);
  }
  MainWindow().AddItem(Control::Raw, path + " (" + tail + ")");
  if (DoNotMove(Record) != 0) {
    UnmovableFragmented += 1;
    FragmentedFiles -= 1;
  }
}

void Check_Busy(Long Record, const RecordInfo& Info) {
  if (Record < FirstUserRecord || Is_Extend_Object(Record)) return;
  const bool fragmented = FragmentState(Record) >= 3;
  if (VolumeSession.SharedMode == 0) {
    if (Info.ResidentData != 0) DoNotMove(Record) = 0xFF;
    if (DefragMode < 0 && fragmented && DoNotMove(Record) == 0) List_Unmovable(Record, Info);
    return;
  }
  if (Info.IsDirectory != 0) {
    DoNotMove(Record) = 1;
    FileFlags(Record) = FileFlags(Record) | kFlagUnmovable;
  } else {
    const std::string path = Folder_Path(FolderIndex(Record)) + "\\" + Info.Name;
    const Long handle = Open_File(path, false);
    if (handle != -1) {
      nt::CloseHandle(handle);
      if (DefragMode >= 0) return;
    } else {
      DoNotMove(Record) = 1;
      if ((Info.DosAttributes & (kDosHidden | kDosSystem)) != 0)
        FileFlags(Record) = FileFlags(Record) | kFlagUnmovable;
    }
  }
  if (fragmented) List_Unmovable(Record, Info);
}

bool Check_Record(Long /*Record*/, const RecordInfo& Info, const ByteArray& Buffer) {
  if (Info.Clusters == 0) return false;
  const Bytes b = Buffer.Span();
  const int64_t used = std::min<int64_t>(U32(b, 24), static_cast<int64_t>(b.size()));
  for (int64_t at = U8(b, 20); at < used;) {
    const int type = U8(b, at);
    const int64_t length = U16(b, at + 4);
    if (length >= 0x8000) return true;
    if (length == 0 || type == 0xFF) return false;
    if (type == 0x20) return false;
    // The unnamed data attribute decides; a named stream is another file's
    // business as far as the decoded runs go.
    if (type == 0x80 && U8(b, at + 9) == 0) {
      if (length < 72 || U8(b, at + 8) == 0) return false;
      if (U32(b, at + 16) != 0 || Info.IsDirectory != 0) return false;
      const int64_t last = I64(b, at + 24);
      return last + 1 != int64_t{Info.Clusters.Value()} + Info.SparseClusters.Value();
    }
    at += length;
  }
  return true;
}

void Process_File(Long Record, const RecordInfo& Info, const VbArray<Long>& Lengths,
                  const VbArray<Long>& Lcns, const ByteArray& Buffer, bool /*InBlock*/) {
  const Long filesBefore = FileCount;
  Tally_Record(Record, Info, Lengths, Lcns);
  if (FileCount != filesBefore && (FileCount & 15) == 0) {
    Active(Info.Name);
    Show_Counts();
  }
  // $BadClus: its data is the bad clusters of the volume, not a file's;
  // they are owned all the same.
  if (Record == 8) {
    Mark_Attributes(Record, Buffer, Info, true);
    return;
  }
  Check_Busy(Record, Info);
  if (Record >= FirstUserRecord && Info.HasAttributeList != 0 && Info.Compressed == 0)
    AttrListCount += 1;
  if (Check_Record(Record, Info, Buffer)) {
    Scan_Fault("Invalid " + Str(Record) + " " + Printable(Info.Name), "Root_Dir_Tree");
    return;
  }
  const bool unmovable = Record < FirstUserRecord || DoNotMove(Record) != 0 ||
                         (FileFlags(Record) & kFlagUnmovable) != 0;
  if (Lengths.UBound() >= 1) {
    if (!Claim_Segments(Record, Lengths, Lcns, Info, unmovable)) return;
  } else if (Record >= FirstUserRecord) {
    ResidentCount += 1;
  }
  if (Info.SecurityNonResident != 0) {
    SecuredCount += 1;
    if (!Claim_Segments(Record, SecurityLengths, SecurityLcns, Info, true)) return;
  }
  Mark_Attributes(Record, Buffer, Info, unmovable);
}

}  // namespace vr
