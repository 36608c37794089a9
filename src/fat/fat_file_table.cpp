#include "fat/fat_file_table.h"

#include "volume/folder_path.h"

namespace vr::fat {

VbArray<FatEntry> FatEntries;
VbArray<std::string> FileNames;
VbArray<uint8_t> FileFlags;
VbArray<uint8_t> DoNotMove;
VbArray<Integer> FolderIndex;
Long EntryCount;

VbArray<FolderEntry> FolderTable;
Integer FolderCount;

VbArray<DirRecord> DirRecords;
Long DirCount;

VbArray<uint8_t> Successor;

Long FileCount;
Integer FolderTotal;
Long FragChains;
Long ChainCount;
Integer EmptyCount;
Long ErasedCount;
Long FragSystem;
Long BusyCount;
Long UnmovableFragmented;
Long FragmentedFiles;
Integer OptimiserRunning;

std::string Folder_Path(Integer Index) { return Folder_Table_Path(FolderTable, Index); }

void Clear_Fat_Tables() {
  FatEntries.Erase();
  FileNames.Erase();
  FileFlags.Erase();
  DoNotMove.Erase();
  FolderIndex.Erase();
  EntryCount = 0;
  FolderTable.Erase();
  FolderCount = 0;
  DirRecords.Erase();
  DirCount = 0;
}

}  // namespace vr::fat
