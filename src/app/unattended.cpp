#include "app/unattended.h"

#include <iostream>

#include "app/command_line.h"
#include "app/drive_list.h"
#include "app/map_window.h"
#include "app/shell.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/shared_state.h"

namespace vr {

bool RunFailed = false;

namespace {

// Prepares the main window for a drive run (the map cleared, the idle
// pictures hidden) after selecting the drive.
void Prepare_Drive(int index) {
  ShellPort& w = Shell();
  Select_Drive(index);
  CheckedScan = kTrue;
  w.ClearMap();
  BoxColors.ReDim(0);
}

void Hide_Idle_Controls() {
  ShellPort& w = Shell();
  w.SetVisible(Control::frmInuse, false);
  w.SetVisible(Control::lblMaker, false);
  w.SetVisible(Control::imgBrim, false);
  w.ClearList(Control::lstInuse);
}

// Runs ViewMap on the selected drive and notes how it ended: a run that
// never reached the end of its map window was refused.
void Run_Drive(char letter) {
  const int before = MapRunsCompleted;
  Hooks().ViewMap();
  const bool ok = MapRunsCompleted > before && ErrorState.Failed == 0 && !AnyErrorCounted();
  if (!ok) RunFailed = true;
  if (!Launch.mapPng.empty()) {
    const std::string file = MapPngPath(Launch.mapPng, letter);
    if (!Shell().SaveMapImage(file)) {
      std::cerr << "voduru: unable to save the map image " << file << "\n";
      RunFailed = true;
    }
  }
}

bool Is_Tool(DriveCommand c) {
  return c == DriveCommand::Checksum || c == DriveCommand::Validate || c == DriveCommand::ScanFiles;
}

// Runs an integrity tool on the selected drive; its lines go to standard
// output and the log like those of a drive run.
void Run_Tool(const DriveAction& a) {
  switch (a.command) {
    case DriveCommand::Checksum: Checksum__Click(); break;
    case DriveCommand::Validate: Validate__Click(); break;
    default: TimingD__Click(); break;
  }
  if (!ToolSucceeded) RunFailed = true;
  if (!Launch.mapPng.empty()) {
    const std::string file = MapPngPath(Launch.mapPng, a.letter);
    if (!Shell().SaveMapImage(file)) {
      std::cerr << "voduru: unable to save the map image " << file << "\n";
      RunFailed = true;
    }
  }
}

void Save_Screenshot() {
  if (Launch.screenshot.empty()) return;
  if (!Shell().SaveWindowImage(Launch.screenshot)) {
    std::cerr << "voduru: unable to save the window image " << Launch.screenshot << "\n";
    RunFailed = true;
  }
}

bool Log_And_End() {
  if (!WriteLogAndEnd()) return false;
  Save_Screenshot();
  EndProgram(RunFailed ? kExitRunFailed : kExitOk);
  return true;
}

}  // namespace

std::string LogFilePath() {
  std::string folder = platform::ProgramFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + "VODURU.LOG";
}

bool Classic_Run(const std::string& CommandLine) {
  std::string text = CommandLine + "/";
  Shell().ShowWindow();
  DebugLogPath = LogFilePath();
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');

  bool matched = false;
  while (text.size() >= 2) {
    text.erase(0, 1);
    // Separators ("/", "-", ":", blanks) sort before "a".
    while (!text.empty() && static_cast<unsigned char>(text[0]) < 'a') text.erase(0, 1);
    if (text.empty()) break;
    const std::vector<std::string> entries = Shell().Items(Control::DrvUser);
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].empty() || entries[i][0] != text[0]) continue;
      matched = true;
      Prepare_Drive(static_cast<int>(i));
      // Defragment and pack; only defragment with --no-pack.
      DefragMode = Launch.noPack ? 0 : 1;
      Hide_Idle_Controls();
      Run_Drive(text[0]);
      if (ProgramEnded) return true;
      if (ErrorState.Failed != 0 && Log_And_End()) return true;
    }
  }
  if (Log_And_End()) return true;
  if (Headless) {
    // An idle window nobody sees would wait forever: say what was missing.
    std::cerr << "voduru: "
              << (matched ? "the run of \"" + CommandLine + "\" reported nothing"
                          : "no drive named in \"" + CommandLine + "\" is in the drive map")
              << "; see 'voduru --help'\n";
    EndProgram(kExitRunFailed);
    return true;
  }
  // Nothing was collected: the window stays open as an ordinary idle window.
  Unattended = false;
  return false;
}

void Option_Run() {
  Shell().ShowWindow();
  // The integrity tools keep their lines in the log of the run.
  for (const DriveAction& a : Launch.actions)
    if (Is_Tool(a.command)) DebugLogPath = LogFilePath();
  // Each drive command is a run of its own: one that fails is counted in the
  // exit status and the next one still runs.
  for (const DriveAction& a : Launch.actions) {
    const int index = Find_Drive_Entry(a.letter);
    if (index < 0) {
      std::cerr << "voduru: there is no drive " << a.letter << ": in the drive map\n";
      RunFailed = true;
      continue;
    }
    if (Is_Tool(a.command)) {
      Select_Drive(index);
      Run_Tool(a);
      if (ProgramEnded) return;
      continue;
    }
    Prepare_Drive(index);
    switch (a.command) {
      case DriveCommand::CheckedView: DefragMode = -1; break;
      case DriveCommand::FastView:
        CheckedScan = 0;
        DefragMode = -1;
        break;
      case DriveCommand::Defrag: DefragMode = Shell().MenuChecked(MenuItem::Pack_) ? 1 : 0; break;
      default: break;
    }
    Hide_Idle_Controls();
    Run_Drive(a.letter);
    if (ProgramEnded) return;
  }
  if (!Launch.classic.empty() && Classic_Run(Launch.classic)) return;
  if (!DebugLogPath.empty()) WriteLogAndEnd();
  Save_Screenshot();
  EndProgram(RunFailed ? kExitRunFailed : kExitOk);
}

}  // namespace vr
