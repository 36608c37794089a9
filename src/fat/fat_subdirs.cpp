// The directory walk of a checked scan: every 32-byte entry of every folder
// from the root becomes a row of the FAT file table.
#include <algorithm>
#include <vector>

#include "fat/fat_chain.h"
#include "fat/fat_file_table.h"
#include "fat/fat_geometry.h"
#include "fat/fat_scan.h"
#include "fat/fat_table.h"
#include "map/map_colors.h"
#include "platform/nt.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::fat {

namespace {

constexpr int kEntryBytes = 32;
// Read-only, hidden, system and label together mark a long-name entry.
constexpr uint8_t kLongNameAttributes = 0x0F;
constexpr int kSlotsPerSector = kSectorSize / kEntryBytes;
// Directory clusters are read at most this many sectors at a time.
constexpr Long kReadSectors = 128;
// Folders nested deeper than this are a damaged tree (a path of a FAT
// volume holds far fewer levels).
constexpr size_t kMaxFolderDepth = 512;
constexpr int64_t kEntryGrowth = 500;
constexpr int64_t kDirGrowth = 200;
constexpr int64_t kFolderGrowth = 100;

// The first clusters of the directories being walked, root (0) first: a
// subfolder that starts at one of them leads back to an ancestor.
std::vector<Long> g_walkPath;
// One flag per cluster that some directory entry names as its first: two
// entries starting at the same cluster share a chain.
std::vector<uint8_t> g_startTaken;

struct WalkStep {
  explicit WalkStep(Long cluster) { g_walkPath.push_back(cluster); }
  ~WalkStep() { g_walkPath.pop_back(); }
  WalkStep(const WalkStep&) = delete;
  WalkStep& operator=(const WalkStep&) = delete;
};

struct Subfolder {
  Long start;
  Long entry;
  std::string name;
};

// A run of directory sectors and, for the root, how many entries it holds.
struct DirSpan {
  Long sector;
  Long sectors;
};

std::string RightTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

void GrowEntries(Long row) {
  if (row <= FatEntries.UBound()) return;
  const int64_t upper = FatEntries.UBound() + kEntryGrowth;
  FatEntries.ReDimPreserve(upper);
  FileNames.ReDimPreserve(upper);
  FileFlags.ReDimPreserve(upper);
  DoNotMove.ReDimPreserve(upper);
  FolderIndex.ReDimPreserve(upper);
}

// A fault already counted by the walker that met it: the walk ends with it.
[[noreturn]] void EndWalk() {
  ErrorState.RecordFault = kTrue;
  ErrorState.Failed = kTrue;
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = "DoSub";
  throw RunError(kErrFatStructure, ErrorState.ErrorText);
}

// The sectors of the directory at `cluster`.
std::vector<DirSpan> DirectorySpans(Long cluster) {
  std::vector<DirSpan> spans;
  if (cluster == 0) {
    spans.push_back({FatLayout.RootDirSector, FatLayout.RootDirSectors});
    return spans;
  }
  VbArray<Long> lengths, starts;
  const Integer before = ErrorState.ErrorCount;
  FAT_Chain(cluster, lengths, starts);
  if (ErrorState.ErrorCount != before) EndWalk();
  for (int64_t k = 1; k <= lengths.UBound(); ++k)
    spans.push_back(
        {Cluster_Sector(FatLayout, starts(k)), lengths(k) * FatLayout.SectorsPerCluster});
  return spans;
}

// Whether the entry's chain is its own and fits its size: no other entry
// starts at the same cluster, a file's chain holds exactly the clusters its
// size needs, and a file with a size has a chain. Moving a file that breaks
// one of these would carry another file's data along, or lose its own.
void Check_Ownership(Bytes e, Long start, Long blocks, bool isFolder, const std::string& shown) {
  if (start != 0) {
    const size_t at = static_cast<size_t>(start.Value());
    if (at < g_startTaken.size()) {
      // A folder leading back to an ancestor is the walk's "Folder loop".
      const bool loop =
          isFolder && std::find(g_walkPath.begin(), g_walkPath.end(), start) != g_walkPath.end();
      if (g_startTaken[at] != 0 && !loop) Fat_Fault("Crosslinked: " + Printable(shown), "DoSub");
      g_startTaken[at] = 1;
    }
  }
  const int64_t size = U32(e, 28);
  // A folder's size field is always 0; another value means the entry is not
  // what the walk takes it for.
  if (isFolder) {
    if (size != 0) Fat_Fault("Folder size: " + Printable(shown), "DoSub");
    return;
  }
  const int64_t clusterBytes = int64_t{FatLayout.SectorsPerCluster.Value()} * kSectorSize;
  const int64_t needed = (size + clusterBytes - 1) / clusterBytes;
  if (start == 0) {
    if (size != 0) Fat_Fault("No chain: " + Printable(shown), "DoSub");
    return;
  }
  if (blocks < needed) Fat_Fault("Chain too short: " + Printable(shown), "DoSub");
  if (blocks > needed) Fat_Fault("Chain too long: " + Printable(shown), "DoSub");
}

// Enters one directory entry into the file table (not an erased, dot,
// label or long-name entry).
void Take_Entry(Bytes e, Long slot, Long entry, Integer folder, const std::string& path,
                std::vector<Subfolder>& subs) {
  const uint8_t attr = U8(e, 11);
  const Long start = U16(e, 26);
  // Cluster 1 is not a data cluster either.
  if (start > MaxCluster || start == 1) Fat_Fault("Bad DirClu=" + Hex(start), "DoSub");

  EntryCount += 1;
  const Long r = EntryCount;
  GrowEntries(r);
  const std::string name = Entry_Name(e);
  FatEntry fe;
  fe.Size = I32(e, 28);
  fe.StartCluster = static_cast<int16_t>(static_cast<uint16_t>(start.Value()));
  fe.Attributes = attr;
  fe.ParentEntry = entry;
  fe.Slot = slot;
  FolderIndex(r) = folder;
  FileNames(r) = name;
  FileFlags(r) = 0;
  DoNotMove(r) = 0;

  Integer fragments = 0;
  Long blocks = 0;
  if (start != 0) {
    fragments = Fragmented(start, blocks);
  } else {
    EmptyCount += 1;
  }
  fe.FragCount = static_cast<uint8_t>(fragments.Value());
  FatEntries(r) = fe;

  const bool isFolder = (attr & kAttrFolder) != 0;
  // A folder whose first cluster lies inside another chain would be read
  // from some file's data: as invalid as such a file.
  if (Check_Start(start) != 0) Fat_Fault("Invalid: " + Printable(name), "DoSub");
  Check_Ownership(e, start, blocks, isFolder, path + "\\" + name);

  if (VolumeSession.NotLocked != 0 && (fragments >= 2 || !(CheckedScan != 0 && DefragMode == 0)))
    Check_Busy_Fat(r, path);

  if (isFolder) {
    FileFlags(r) = FileFlags(r) | kFlagFolder;
    if (VolumeSession.SharedMode != 0) {
      FileFlags(r) = FileFlags(r) | kFlagUnmovable;
      Mark_Chain(start, kColorFixed);
    } else {
      Mark_Chain(start, kColorFile);
    }
    subs.push_back({start, r, name});
    FolderTotal += 1;
  } else {
    FileCount += 1;
  }
  if ((attr & kAttrSystem) != 0) {
    FileFlags(r) = FileFlags(r) | kFlagSystem;
    Mark_Chain(start, kColorSys);
    if (fragments >= 2) FragSystem += 1;
  }
  if (Lower(name) == "pagefile.sys") {
    FileFlags(r) = FileFlags(r) | kFlagUnmovable;
    Mark_Chain(start, kColorFixed);
  }

  // A view lists what the optimiser would mend. A folder is listed as one,
  // so that the list finds it as a folder on the volume.
  if (DefragMode < 0 && fragments >= 2 && DoNotMove(r) == 0 &&
      (FileFlags(r) & kFlagUnmovable) == 0) {
    const std::string tail = isFolder ? "folder" : SizeText(fe.Size / 512);
    MainWindow().AddItem(Control::Raw, path + "\\" + name + " (" + tail + ")");
  }
}

// A folder's first two entries name the folder itself and its parent (0 for
// the root); anything else means the tree and the chains disagree.
void Check_Dot_Entries(Bytes bytes, Long cluster, const std::string& path) {
  if (cluster == 0) return;
  const Long parent = g_walkPath.size() >= 2 ? g_walkPath[g_walkPath.size() - 2] : Long(0);
  const bool dot = bytes.size() >= 64 && GetAscii(bytes, 0, 11) == ".          " &&
                   U16(bytes, 26) == static_cast<uint16_t>(cluster.Value()) &&
                   (U8(bytes, 11) & kAttrFolder) != 0;
  const bool dotDot = bytes.size() >= 64 && GetAscii(bytes, 32, 11) == "..         " &&
                      U16(bytes, 32 + 26) == static_cast<uint16_t>(parent.Value()) &&
                      (U8(bytes, 32 + 11) & kAttrFolder) != 0;
  if (!dot || !dotDot) Fat_Fault("Dot entries: " + Printable(path), "DoSub");
}

// A volume label owns no clusters: a start cluster or a size in its entry
// would make it a second owner of some file's clusters (fsck.fat reads it
// so). Long-name entries carry the label bit too and are left alone.
void Check_Label(Bytes e, const std::string& path) {
  if ((U8(e, 11) & kLongNameAttributes) == kLongNameAttributes) return;
  if (U16(e, 26) != 0 || U32(e, 28) != 0)
    Fat_Fault("Label entry: " + Printable(path + "\\" + Entry_Name(e)), "DoSub");
}

void Walk(Long cluster, Long entry, Integer folder) {
  MainWindow().DoEvents();
  if (ErrorState.Failed != 0) return;
  if (FatMapPort* w = Fat_Window()) {
    Status_Value(kFatStatusLine1, w->Status(), FolderTable(folder).Name, kBlack);
    Status_Value(kFatStatusLine2, w->Status(), Str(FolderTotal) + " / " + Str(FileCount), kBlack);
  }
  const WalkStep step(cluster);
  std::vector<Subfolder> subs;
  const Long erasedBefore = ErasedCount;
  const std::string path = Folder_Path(folder);

  Long slot = 0;
  bool ended = false;
  ByteArray buffer;
  for (const DirSpan& span : DirectorySpans(cluster)) {
    for (Long done = 0; done < span.sectors && !ended; done += kReadSectors) {
      const Long sectors = std::min<int32_t>(kReadSectors, span.sectors - done);
      buffer.ReDim(sectors * kSectorSize - 1);
      if (!Raw_Read(span.sector + done, buffer.Span())) EndWalk();
      const Bytes bytes = buffer.Span();
      if (slot == 0) Check_Dot_Entries(bytes, cluster, path);
      for (Long k = 0; k < sectors * kSlotsPerSector; ++k, slot += 1) {
        if (cluster == 0 && slot >= FatLayout.RootEntries) {
          ended = true;
          break;
        }
        const Bytes e = bytes.subspan(static_cast<size_t>(k * kEntryBytes), kEntryBytes);
        const uint8_t first = U8(e, 0);
        if (first == 0) {
          ended = true;  // the end of the directory
          break;
        }
        if (first == 0xE5) {
          ErasedCount += 1;
          continue;
        }
        if (first == '.') continue;
        if ((U8(e, 11) & kAttrVolume) != 0) {
          Check_Label(e, path);
          continue;
        }
        Take_Entry(e, slot, entry, folder, path, subs);
      }
    }
    if (ended) break;
  }

  DirCount += 1;
  if (DirCount > DirRecords.UBound()) DirRecords.ReDimPreserve(DirRecords.UBound() + kDirGrowth);
  DirRecords(DirCount) = {entry, Integer(ErasedCount - erasedBefore)};

  for (const Subfolder& sub : subs) {
    FolderCount += 1;
    if (FolderCount > FolderTable.UBound())
      FolderTable.ReDimPreserve(FolderTable.UBound() + kFolderGrowth);
    FolderTable(FolderCount) = {folder, sub.name};
    const Integer index = FolderCount;
    if (sub.start == 0) continue;
    if (std::find(g_walkPath.begin(), g_walkPath.end(), sub.start) != g_walkPath.end())
      Fat_Fault("Folder loop: " + path + "\\" + sub.name, "DoSub");
    if (g_walkPath.size() >= kMaxFolderDepth)
      Fat_Fault("Folders nested too deep: " + path + "\\" + sub.name, "DoSub");
    FAT_Do_Subdir(sub.start, sub.entry, index);
    if (ErrorState.Failed != 0) return;
  }
}

}  // namespace

std::string Entry_Name(Bytes Entry) {
  const std::string name = RightTrim(GetAscii(Entry, 0, 8));
  const std::string ext = RightTrim(GetAscii(Entry, 8, 3));
  return ext.empty() ? name : name + "." + ext;
}

void FAT_Do_Subdir(Long Cluster, Long Entry, Integer Folder) {
  try {
    Walk(Cluster, Entry, Folder);
  } catch (const RunError& e) {
    if (e.Number() == kErrFatStructure) throw;  // recorded where it arose
    if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = e.Description();
    ErrorState.ErrorWhere = "DoSub";
    ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
    ErrorState.RecordFault = kTrue;
    ErrorState.Failed = kTrue;
    throw RunError(kErrFatStructure, ErrorState.ErrorText);
  }
}

void Mark_Subdirs() {
  DirRecords.ReDim(kDirGrowth);
  DirCount = 0;
  EntryCount = 0;
  FolderCount = 0;
  FolderTable.ReDim(kFolderGrowth);
  std::string drive = VolumeSession.DriveName;
  std::transform(drive.begin(), drive.end(), drive.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  FolderTable(0) = {Integer(-1), drive};

  const int64_t room = static_cast<int64_t>(ChainCount) + 2;
  FatEntries.ReDim(room);
  FolderIndex.ReDim(room);
  DoNotMove.ReDim(room);
  FileFlags.ReDim(room);
  FileNames.ReDim(room);
  g_walkPath.clear();
  g_startTaken.assign(static_cast<size_t>(MaxCluster.Value()) + 1, 0);

  FAT_Do_Subdir(0, 0, 0);

  FolderTable.ReDimPreserve(FolderCount);
  if (FatEntries.UBound() != EntryCount) {
    FatEntries.ReDimPreserve(EntryCount);
    FolderIndex.ReDimPreserve(EntryCount);
    DoNotMove.ReDimPreserve(EntryCount);
    FileFlags.ReDimPreserve(EntryCount);
    FileNames.ReDimPreserve(EntryCount);
  }
  DirRecords.ReDimPreserve(DirCount);
}

void Check_Busy_Fat(Long Entry, const std::string& Path) {
  const FatEntry& fe = FatEntries(Entry);
  if ((fe.Attributes & kAttrFolder) != 0) {
    DoNotMove(Entry) = 1;
    // A folder cannot be defragmented on a volume other programs use.
    if (fe.FragCount >= 2) FragChains -= 1;
    return;
  }
  const std::string full = Path + "\\" + FileNames(Entry);
  const nt::HANDLE h = nt::CreateFileA(full, nt::GENERIC_READ, 0, nullptr, nt::OPEN_EXISTING, 0, 0);
  if (h != nt::INVALID_HANDLE_VALUE) {
    nt::CloseHandle(h);
    return;
  }
  DoNotMove(Entry) = 1;
  BusyCount += 1;
  if (fe.FragCount >= 2) {
    UnmovableFragmented += 1;
    MainWindow().AddItem(Control::Raw, full + " (busy)");
  }
}

}  // namespace vr::fat
