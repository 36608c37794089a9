#include "app/headless_run.h"

#include "app/map_window.h"
#include "app/scans.h"
#include "app/view_map.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/shared_state.h"

namespace vr {

namespace {

// A map window nobody sees: status lines go nowhere, or into `texts`.
class SilentMapWindow : public MapWindowPort {
 public:
  std::set<std::string>* texts = nullptr;
  int Width() const override { return 200; }
  int Height() const override { return 40; }
  int TextHeight(const std::string&) const override { return 12; }
  int TextWidth(const std::string& text) const override { return static_cast<int>(text.size()); }
  void FillBox(int, int, int, int, int) override {}
  void DrawText(int, int, const std::string& text, int) override {
    if (texts != nullptr && !text.empty()) texts->insert(text);
  }
  void Update() override {}
  void Unload() override {}
};

// Where the scan would hand over to an optimiser this build does not carry.
bool IsOptimiserLine(const std::string& line) {
  return line == "NTFS optimisation is not available yet." ||
         line == "FAT optimisation is not available yet.";
}

}  // namespace

HeadlessRun Run_Headless_Command(char Letter, Integer Checked, Integer Defrag,
                                 const HeadlessOptions& Options) {
  RecordingMainWindow own;
  RecordingMainWindow& window = Options.window != nullptr ? *Options.window : own;
  MainWindowPort* previous = &MainWindow();
  SetMainWindow(&window);
  Install_Map_Scans();
  window.onShowMap = [&Options](MapKind kind, const std::string&) {
    SilentMapWindow silent;
    silent.texts = Options.statusTexts;
    MapWindowLogic map(kind, silent);
    if (Options.onMap) Options.onMap(&map);
    map.Timer1_Timer();
    if (Options.onMap) Options.onMap(nullptr);
  };
  window.drvUserText = std::string(1, Letter) + ": [" + Options.label + "]";
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
  window.onShowMap = nullptr;  // it refers to Options
  SetMainWindow(previous);
  return run;
}

}  // namespace vr
