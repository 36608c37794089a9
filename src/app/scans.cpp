#include "app/scans.h"

#include "app/charts/fragment_list.h"
#include "app/map_window.h"
#include "fat/fat_file_table.h"
#include "fat/fat_scan.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/fat_handover.h"

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

void Install_Map_Scans() {
  SetMapScan(MapKind::Fat, Fat_Map_Scan);
  SetMapScan(MapKind::Ntfs, Ntfs_Map_Scan);
  fat::Fat_Shared_HandOver = Hand_Fat_Table_Over;
}

}  // namespace vr
