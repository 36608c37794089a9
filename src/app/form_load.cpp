// Start-up of the main window.
#include <cmath>
#include <iostream>

#include "alloc/free_segments.h"
#include "app/command_line.h"
#include "app/drive_list.h"
#include "app/options.h"
#include "app/shell.h"
#include "app/unattended.h"
#include "app/view_map.h"
#include "platform/nt.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

namespace {

template <typename F>
void Step(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}

void Map_Geometry(const ScreenMetrics& m) {
  MapLeftOffset = m.cxFrame;
  MapTopOffset = Long(m.drvUserTop) + m.cyFrame + m.cyCaption + m.cyMenu;
  const int twips = m.twipsPerPixelX > 0 ? m.twipsPerPixelX : 15;
  StatusColumn = twips < 15 ? 180 : 160;
  // 60 twips per box, rounded to whole pixels.
  BoxSize = static_cast<int>(std::nearbyint(60.0 / twips));
  BoxPitch = BoxSize + 1;
  BoxColumns = 75;
  BoxRows = 47;
  BoxCount = 3525;
  Shell().PlaceMap(BoxColumns * BoxPitch + 5, BoxRows * BoxPitch + 15);
}

std::string System_Directory() {
  char buffer[260] = {};
  const nt::UINT n = nt::GetSystemDirectoryA(buffer, sizeof buffer);
  std::string dir(buffer, n < sizeof buffer ? n : sizeof buffer);
  if (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

// An interactive start: each step is carried out even when an earlier one
// fails (no drive C, for example).
void Interactive_Start() {
  ShellPort& w = Shell();
  Step([] {
    const int c = Find_Drive_Entry('c');
    if (c >= 0) Select_Drive(c);
  });
  Step([&] { w.SetVisible(Control::DrvUser, true); });
  Step([&] {
    w.HideWindow();
    w.ShowWindow();
    for (int i = 0; i < 10; ++i) w.DoEvents();
  });
  Step([&] { w.SetVisible(Control::lblMaker, true); });
  if (!Launch.screenshot.empty()) {
    const bool saved = w.SaveWindowImage(Launch.screenshot);
    if (!saved)
      std::cerr << "voduru: unable to save the window image " << Launch.screenshot << "\n";
    EndProgram(saved ? kExitOk : kExitRunFailed);
  }
}

// The program cannot go on: an option run ends with its exit code; the
// classic run keeps the dead window, as an interactive start does, unless
// nobody can see it.
void Dead_Start(const std::string& why) {
  if (HasCommandLine() && WriteLogAndEnd()) {
    EndProgram(kExitRunFailed);
    return;
  }
  if ((Launch.optionRun && HasCommandLine()) || Headless) {
    if (Headless) std::cerr << "voduru: " << (why.empty() ? "cannot start" : why) << "\n";
    EndProgram(kExitRunFailed);
  }
}

}  // namespace

void Form_Load() {
  ShellPort& w = Shell();
  CommandLineRun = HasCommandLine();
  RunFailed = false;
  try {
    Reset_Allocation();
    Fill_Drive_List();
    Map_Geometry(w.Metrics());
    Read_Options();
    // --no-pack: off for this run only; the stored option stays.
    if (Launch.noPack) w.SetMenuChecked(MenuItem::Pack_, false);
    for (int i = 0; i < 8; ++i) BitMask[i] = Integer(1 << i);
    BoxColors.ReDim(0);
    Hooks().Set_Checksum();

    if (Win_Version().substr(0, 1) != "4") {
      CrapOut("NT Version 4 required.");
      Dead_Start("NT Version 4 required.");
      return;
    }
    SystemDirectory = System_Directory();

    ProcessHandle = nt::GetCurrentProcess();
    if (!nt::SetProcessWorkingSetSize(ProcessHandle, 0x500000, 0x1000000)) {
      if (!HasCommandLine()) {
        CrapOut("");
        NoMemErr();
      } else {
        ReportError("Insufficient memory.");
        WriteLogAndEnd();
      }
      EndProgram(kExitRunFailed);
      return;
    }

    if (!HasCommandLine()) {
      Interactive_Start();
    } else {
      Unattended = true;
      if (!Launch.actions.empty())
        Option_Run();
      else
        Classic_Run(Launch.classic);
    }
  } catch (const RunError& e) {
    CrapOut(e.Description());
    Dead_Start(e.Description());
  }
}

}  // namespace vr
