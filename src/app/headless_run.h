// One volume command run without any window: ViewMap on a mapped drive with
// a recording main window, the map window reduced to its logic and its scan.
// For the damaged-volume campaign and the tests that run whole commands.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/checked.h"

namespace vr {

class MapWindowLogic;
class RecordingMainWindow;

struct HeadlessRun {
  std::vector<std::string> lines;  // the report lines, in order
  std::vector<std::string> boxes;  // message boxes
  bool failed = false;             // the run would exit 1: stopped, refused or in error
  bool internalFault = false;      // a run-time error no check named
  bool optimiserReached = false;   // the scan handed over to an optimiser
};

// What a caller may lend a headless run; every field may stay empty.
struct HeadlessOptions {
  RecordingMainWindow* window = nullptr;         // the main window (else a fresh one)
  std::function<void(MapWindowLogic*)> onMap;    // the map window while its scan runs, then null
  std::set<std::string>* statusTexts = nullptr;  // gathers the map window's status texts
  std::string label = "DAMAGE";                  // the volume label the window shows
};

// Runs the command of the flags (Checked View -1/-1, Fast View 0/-1, Defrag
// -1/0 or -1/1) on drive Letter of the current drive map. The platform and
// its drivers must be set up by the caller.
HeadlessRun Run_Headless_Command(char Letter, Integer Checked, Integer Defrag,
                                 const HeadlessOptions& Options = {});

}  // namespace vr
