// The tables the FAT scan builds and the FAT optimiser works from: one row
// per directory entry (entry number 0 stands for the root directory, which
// has no row), the folder table that turns a row's folder index into a path,
// one record per directory walked, the successor marks of the allocation
// table and the scan's counters. They live until the next scan.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr::fat {

// FileFlags bits.
constexpr int kFlagSystem = 0x80;     // the DOS system attribute
constexpr int kFlagUnmovable = 0x40;  // never moved (paging file; folders of a shared volume)
constexpr int kFlagFolder = 0x10;     // a folder

// Directory-entry attribute bits.
constexpr int kAttrSystem = 0x04;
constexpr int kAttrVolume = 0x08;  // volume label; long-name entries carry it too
constexpr int kAttrFolder = 0x10;

// One directory entry as the optimiser needs it.
struct FatEntry {
  Long Size;               // entry offset 28
  Integer StartCluster;    // entry offset 26 (a 16-bit field: read it unsigned)
  uint8_t Attributes = 0;  // entry offset 11
  uint8_t FragCount = 0;   // fragments, at most 255; 0 for an empty file
  Long ParentEntry;        // entry number of the directory that holds it; 0 = root
  Integer Slot;            // position in its directory, in 32-byte slots from its start

  Long Start() const { return Long(static_cast<uint16_t>(StartCluster.Value())); }
};

// Rows 1 .. EntryCount.
extern VbArray<FatEntry> FatEntries;
extern VbArray<std::string> FileNames;  // "NAME.EXT", no dot when the extension is blank
extern VbArray<uint8_t> FileFlags;
extern VbArray<uint8_t> DoNotMove;    // non-zero: not to be moved or listed
extern VbArray<Integer> FolderIndex;  // FolderTable index of the holding directory
extern Long EntryCount;

struct FolderEntry {
  Integer Parent = -1;  // -1 for the root
  std::string Name;     // the root holds the upper-cased drive name ("F:")
};
// Element 0 is the root; FolderCount is the last element in use.
extern VbArray<FolderEntry> FolderTable;
extern Integer FolderCount;

// One per directory walked, root included, in walk order (1 .. DirCount).
struct DirRecord {
  Long DirEntry;        // the directory's own entry number (0 for the root)
  Integer ErasedSlots;  // erased entries found in it
};
extern VbArray<DirRecord> DirRecords;
extern Long DirCount;

// Successor(c) = 1 when some FAT entry points to c (0 .. MaxCluster): a
// cluster in use that is nobody's successor heads a chain.
extern VbArray<uint8_t> Successor;

// Counters of the last scan.
extern Long FileCount;            // files
extern Integer FolderTotal;       // folders
extern Long FragChains;           // fragmented chains; after the walk, fragmented files
extern Long ChainCount;           // chains found by the chain pass
extern Integer EmptyCount;        // entries with start cluster 0
extern Long ErasedCount;          // entries whose first byte is 0xE5
extern Long FragSystem;           // fragmented system files
extern Long BusyCount;            // files other programs hold open
extern Long UnmovableFragmented;  // fragmented files that cannot be moved
extern Long FragmentedFiles;      // what the optimiser is asked to mend
// Set while the optimiser runs (errors are then raised as "Defrag/Pack").
extern Integer OptimiserRunning;

// The folder's path: the names from the root down joined by "\" (F:\DIR\SUB).
std::string Folder_Path(Integer Index);

// Empties every table (the state before a scan).
void Clear_Fat_Tables();

}  // namespace vr::fat
