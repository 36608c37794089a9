// The FAT map window's scan from its timer to its closing step: the table
// loaded and checked, the map drawn, the summary printed, and the hand-over
// to the optimiser when a Defrag asked for one.
#include "alloc/free_segments.h"
#include "fat/fat_file_table.h"
#include "fat/fat_geometry.h"
#include "fat/fat_scan.h"
#include "fat/fat_table.h"
#include "map/legend.h"
#include "map/map_colors.h"
#include "map/runs.h"
#include "runtime/format.h"
#include "volume/clean_check.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::fat {

void (*Fat_Shared_HandOver)() = nullptr;

namespace {

FatMapPort* g_window = nullptr;

bool HasErrors() { return ErrorState.ErrorCount != 0; }

// "Err=" and the source of the error the walk ended on; the text is then
// cleared, so that the end of the scan does not print it again.
void Report_Walk_Error() {
  if (!ErrorState.ErrorText.empty()) ReportError("Err=" + ErrorState.ErrorText);
  if (!ErrorState.ErrorWhere.empty()) ReportError("Source=" + ErrorState.ErrorWhere);
  ErrorState.ErrorText.clear();
}

// The FAT optimiser is not part of this build: a Defrag ends after its scan
// and says so. A volume whose highest cluster numbers collide with the
// reserved FAT values is never optimised, whoever would move its files.
void Optimise_Or_Refuse() {
  if (FatLayout.NotOptimisable != 0) {
    ReportError(FatLayout.KindName() + " volume of " + Str(FatLayout.DataClusters) +
                " clusters: its highest cluster numbers collide with reserved FAT values,"
                " so it is read but not optimised.");
    ErrorState.Failed = kTrue;
    return;
  }
  if (VolumeSession.SharedMode != 0) return;  // the file system moves its files
  if (!((CheckedScan != 0 && FragChains > 0) || DefragMode > 0)) return;
  if (StopIfNotClean()) return;
  OptimiserRunning = kTrue;
  ReportError("FAT optimisation is not available yet.");
  ErrorState.Failed = kTrue;
  OptimiserRunning = 0;
}

void Fill_Fragmented_List() {
  if (g_window != nullptr) g_window->Move_Raw_List();
}

void Scan() {
  FatMapPort& window = *g_window;
  ErrorState.ErrorText.clear();
  ErrorState.ErrorWhere.clear();
  EmptyCount = 0;
  ErasedCount = 0;
  FragChains = 0;
  FragSystem = 0;
  BusyCount = 0;
  OptimiserRunning = 0;
  UnmovableFragmented = 0;
  ChainCount = 0;
  FileCount = 0;
  FolderTotal = 0;
  Clear_Fat_Tables();
  MaxCluster = VolumeSession.TotalClusters + 1;

  // Load_FAT records a failed read ("Error reading drive") or a volume it
  // will not read (FAT32 and exFAT by name).
  if (!Load_FAT()) throw RunError(kErrFatStructure, ErrorState.ErrorText);
  FAT_Marks();

  Draw_Legend_FAT();
  Status_Label(kFatStatusLine2, window.Status(), "Dir / File:", kBlack);
  Status_Label(kFatStatusLine1, window.Status(), "Checking:", kBlack);

  double loadTime = 0, subdirTime = 0;
  bool failed = false;
  if (CheckedScan != 0) {
    ReportLine("Checking disk structure . .");
    Fat_ViewMap(loadTime, subdirTime, ChainCount);
    if (HasErrors()) {
      ErrorState.RecordFault = kTrue;
      failed = true;
    } else {
      if (ErrorState.Failed == 0) {
        const Long entries = FileCount + FolderTotal - EmptyCount;
        if (entries != ChainCount) {
          ReportError("Files+Dirs=" + Str(entries) + " <> Chains=" + Str(ChainCount));
          // Counted as an error, so that the stop is reported as one.
          ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
          ErrorState.RecordFault = kTrue;
          ErrorState.Failed = kTrue;
        }
      }
      ReportLine("User files=" + Str(FileCount) + ",  Folders=" + Str(FolderTotal));
      ReportLine("Fragmented files=" + Str(FragChains));
      if (EmptyCount != 0) ReportLine("Empty files=" + Str(EmptyCount));
      if (ErasedCount != 0) ReportLine("Erased files=" + Str(ErasedCount));
    }
  } else {
    Fat_ViewMap(loadTime, subdirTime, ChainCount);
    if (HasErrors()) {
      failed = true;
    } else {
      ReportLine("");
      ReportLine("File/Folder chains=" + Str(ChainCount));
      ReportLine("Fragmented chains=" + Str(FragChains));
    }
  }

  if (!failed) {
    const Long all = Fat_Total_Free();
    const Long large = Fat_Large_Free();
    ReportSize("Small free Space=", all - large);
    ReportSize("Large free space=", large);

    if (DefragMode < 0) {
      if (ErrorState.Failed != 0) Report_Stop();
      Fill_Fragmented_List();
      Quit();
      return;
    }
    FragmentedFiles = FragChains;
    if (ErrorState.Failed != 0) {
      DefragMode = -1;
      Report_Stop();
    } else {
      Optimise_Or_Refuse();
    }
    // A volume in use goes on to the optimiser that moves files through the
    // file system, which fills the list when it ends (and needs the volume
    // open, which filling the list would close).
    if (VolumeSession.SharedMode == 0 || ErrorState.Failed != 0) Fill_Fragmented_List();
    Quit();
    return;
  }

  if (!ErrorState.ErrorText.empty()) ReportError("Err=" + ErrorState.ErrorText);
  if (HasErrors()) ErrorState.RecordFault = kTrue;
  if (VolumeSession.SharedMode == 0) Fill_Fragmented_List();
  Quit();
}

}  // namespace

void Set_Fat_Window(FatMapPort* Window) { g_window = Window; }
FatMapPort* Fat_Window() { return g_window; }

void FAT_Active(const std::string& Text) {
  if (g_window != nullptr) Status_Value(kFatStatusLine1, g_window->Status(), Text, kBlack);
}

void FAT_Show_Info() {}

void Fat_ViewMap(double& LoadTime, double& SubdirTime, Long& Chains) {
  MainWindow().SetBusyCursor(true);
  FolderTotal = 0;
  FragChains = 0;
  FileCount = 0;
  FAT_Active("Load");
  double clock = Timer();

  Chains = Chain_Pass();
  if (HasErrors()) {
    ErrorState.RecordFault = kTrue;
    return;
  }
  LoadTime = Timer() - clock;

  FAT_FREE_Segs();
  FAT_Redraw_XXXX(Allocation.FreeLengths, Allocation.FreeStarts, kIntoUnpainted + kColorEmpty);
  FAT_Active("Subdirs");

  if (CheckedScan == 0) return;
  // The optimiser writes its table to every copy: copies that disagree
  // mean one of them is damaged, and the scan cannot tell which.
  const Long differs = Fat_Copy_Difference();
  if (HasErrors()) return;
  if (differs != 0) {
    Set_Error("FAT copies differ: cluster " + Str(differs));
    ErrorState.ErrorWhere = "ViewMap";
    return;
  }
  Clear_Fat_Tables();
  clock = Timer();
  try {
    Mark_Subdirs();
  } catch (const RunError& e) {
    if (e.Number() != kErrFatStructure) Trap_Error("Mark_Subdirs", e.Number(), e.Description());
    Report_Walk_Error();
    return;
  }
  if (HasErrors()) {
    Report_Walk_Error();
    return;
  }
  SubdirTime = Timer() - clock;
  FAT_Show_Info();
}

void FormLoad(FatMapPort& Window) {
  g_window = &Window;
  try {
    Scan();
  } catch (const RunError& e) {
    // A fault recorded where it arose, or a run-time error no step expected.
    if (e.Number() != kErrFatStructure) {
      if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = e.Description();
      if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = "FormLoad";
    }
    Show_Errors(e.Number() == kErrFatStructure ? 0 : e.Number());
    Quit();
  }
}

void Quit() {
  MainWindowPort& main = MainWindow();
  main.SetVisible(Control::picHistoF, false);
  main.SetVisible(Control::PicHistoE, false);
  Successor.Erase();
  if (CheckedScan != 0 && ErrorState.Failed == 0 && VolumeSession.SharedMode != 0 &&
      Fat_Shared_HandOver != nullptr)
    Fat_Shared_HandOver();
  FatTable.Erase();
  FatMapPort* window = g_window;
  g_window = nullptr;
  if (window != nullptr) window->Closing_Step();
}

}  // namespace vr::fat
