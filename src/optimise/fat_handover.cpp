#include "optimise/fat_handover.h"

#include "fat/fat_chain.h"
#include "fat/fat_file_table.h"
#include "volume/file_table.h"

namespace vr {

void Hand_Fat_Table_Over() {
  const int64_t n = fat::EntryCount;
  FileNames.ReDim(n);
  FileFlags.ReDim(n);
  DoNotMove.ReDim(n);
  FolderIndex.ReDim(n);
  FragmentState.ReDim(n);
  FirstLcn.ReDim(n);
  ClusterCount.ReDim(n);
  MoveDelayed.ReDim(n);
  VbArray<Long> lengths, starts;
  for (Long r = 1; r <= n; ++r) {
    const fat::FatEntry& e = fat::FatEntries(r);
    FileNames(r) = fat::FileNames(r);
    FileFlags(r) = fat::FileFlags(r);
    DoNotMove(r) = fat::DoNotMove(r);
    FolderIndex(r) = fat::FolderIndex(r);
    FragmentState(r) = Integer(e.FragCount) + 1;
    // Cluster 2 is the first cluster of the data area.
    FirstLcn(r) = e.Start() - 2;
    ClusterCount(r) = e.Start() == 0 ? Long(0) : FAT_Chain(e.Start(), lengths, starts);
  }
  FolderTable.ReDim(fat::FolderCount);
  for (Integer k = 0; k <= fat::FolderCount; ++k)
    FolderTable(k) = {fat::FolderTable(k).Parent, fat::FolderTable(k).Name};
  FolderCount = fat::FolderCount;
}

}  // namespace vr
