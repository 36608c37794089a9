#include "app/headless_run.h"

#include "app/map_window.h"
#include "app/scans.h"
#include "app/view_map.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/shared_state.h"

namespace vr {

namespace {

// A map window nobody sees: status lines go nowhere.
class SilentMapWindow : public MapWindowPort {
 public:
  int Width() const override { return 200; }
  int Height() const override { return 40; }
  int TextHeight(const std::string&) const override { return 12; }
  int TextWidth(const std::string& text) const override { return static_cast<int>(text.size()); }
  void FillBox(int, int, int, int, int) override {}
  void DrawText(int, int, const std::string&, int) override {}
  void Update() override {}
  void Unload() override {}
};

// Where the scan would hand over to an optimiser this build does not carry.
bool IsOptimiserLine(const std::string& line) {
  return line == "NTFS optimisation is not available yet." ||
         line == "FAT optimisation is not available yet.";
}

}  // namespace

HeadlessRun Run_Headless_Command(char Letter, Integer Checked, Integer Defrag) {
  RecordingMainWindow window;
  MainWindowPort* previous = &MainWindow();
  SetMainWindow(&window);
  Install_Map_Scans();
  window.onShowMap = [](MapKind kind, const std::string&) {
    SilentMapWindow silent;
    MapWindowLogic map(kind, silent);
    map.Timer1_Timer();
  };
  window.drvUserText = std::string(1, Letter) + ": [DAMAGE]";
  CheckedScan = Checked;
  DefragMode = Defrag;
  const int before = MapRunsCompleted;
  const int runsBefore = OptimiserRuns;
  ViewMap();
  HeadlessRun run;
  run.lines = window.LineTexts();
  run.boxes = window.boxes;
  run.failed = !(MapRunsCompleted > before && ErrorState.Failed == 0 && !AnyErrorCounted());
  run.internalFault = ErrorState.InternalFault != 0;
  run.optimiserReached = OptimiserRuns != runsBefore;
  for (const std::string& line : run.lines)
    if (IsOptimiserLine(line)) run.optimiserReached = true;
  SetMainWindow(previous);
  return run;
}

}  // namespace vr
