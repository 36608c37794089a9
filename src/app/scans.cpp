#include "app/scans.h"

#include "app/charts/fragment_list.h"
#include "app/charts/size_chart.h"
#include "app/map_window.h"
#include "fat/fat_file_table.h"
#include "fat/fat_scan.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/fat_handover.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_display.h"
#include "optimise/optimiser_run.h"
#include "volume/ui.h"

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

// The optimiser's charts in the main window's pictures.
class MainWindowCharts : public OptimiserCharts {
 public:
  void ShowGaps() override { Show_Gaps(); }
  void ShowSizes(Control Picture, const std::string& Title,
                 const std::vector<int64_t>& Bytes) override {
    Clear_Size_Buckets();
    for (const int64_t b : Bytes) SizeBuckets(Size_Bucket(b, 15)) += 1;
    MainWindow().SetVisible(Picture, true);
    Draw_Histogram(Picture, Title);
  }
};

MainWindowCharts g_charts;

void Ntfs_Map_Scan(MapWindowLogic& map) {
  NtfsMapWindow window(map);
  // The window's load: no moves, no postponed moves, no run yet.
  Reset_Move_State();
  FormLoad(window);
}

void Run_Optimiser() {
  ++OptimiserRuns;
  DefragPack_All();
}

void Fat_Map_Scan(MapWindowLogic& map) {
  FatMapWindow window(map);
  fat::FormLoad(window);
}

}  // namespace

int OptimiserRuns = 0;

void Install_Map_Scans() {
  SetMapScan(MapKind::Fat, Fat_Map_Scan);
  SetMapScan(MapKind::Ntfs, Ntfs_Map_Scan);
  fat::Fat_Shared_HandOver = Hand_Fat_Table_Over;
  Set_Optimiser(Run_Optimiser);
  SetOptimiserCharts(&g_charts);
}

}  // namespace vr
