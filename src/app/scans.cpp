#include "app/scans.h"

#include "app/charts/fragment_list.h"
#include "app/map_window.h"
#include "fat/fat_chain.h"
#include "fat/fat_file_table.h"
#include "fat/fat_scan.h"
#include "optimise/file_table.h"
#include "ntfs/ntfs_scan.h"

namespace vr {

namespace {

// The FAT map window as the FAT scan sees it.
class FatMapWindow : public fat::FatMapPort {
 public:
  explicit FatMapWindow(MapWindowLogic& map) : map_(map) {}
  StatusSurface& Status() override { return map_.Window(); }
  void Move_Raw_List() override { vr::Move_Raw_List(map_.Window()); }
  void Closing_Step() override { map_.Closing_Step(); }

 private:
  MapWindowLogic& map_;
};

// The NTFS map window as the NTFS scan sees it.
class NtfsMapWindow : public NtfsMapPort {
 public:
  explicit NtfsMapWindow(MapWindowLogic& map) : map_(map) {}
  StatusSurface& Status() override { return map_.Window(); }
  void Move_Raw_List() override { vr::Move_Raw_List(map_.Window()); }
  void Closing_Step() override { map_.Closing_Step(); }

 private:
  MapWindowLogic& map_;
};

void Ntfs_Map_Scan(MapWindowLogic& map) {
  NtfsMapWindow window(map);
  FormLoad(window);
}

void Fat_Map_Scan(MapWindowLogic& map) {
  FatMapWindow window(map);
  fat::FormLoad(window);
}

}  // namespace

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

void Install_Map_Scans() {
  SetMapScan(MapKind::Fat, Fat_Map_Scan);
  SetMapScan(MapKind::Ntfs, Ntfs_Map_Scan);
  fat::Fat_Shared_HandOver = Hand_Fat_Table_Over;
}

}  // namespace vr
