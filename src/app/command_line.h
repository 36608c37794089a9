// The program's command line. `voduru /c /d` is the classic unattended run:
// defragment and pack drives C and D, write the log, end. A command line
// holding a long option anywhere is read as options; its other words form a
// classic command line. "-h" and "-?" ask for the help.
#pragma once

#include <string>
#include <vector>

namespace vr {

enum class DriveCommand { CheckedView, FastView, Defrag, Checksum, Validate, ScanFiles };

struct DriveAction {
  DriveCommand command;
  char letter;  // lower case
};

// A headless run of the structure viewer: --hex X RECORD, --find X SEARCH.
struct ViewerRequest {
  bool find = false;
  char letter = 0;  // lower case
  std::string argument;
};

struct LaunchOptions {
  bool optionRun = false;  // a word was a long option
  bool help = false;
  bool version = false;
  bool haveDriveMap = false;
  std::string driveMap;              // --drives
  std::vector<DriveAction> actions;  // in the order given
  std::string mapPng;                // --map-png, "%d" becomes the drive letter
  bool noPack = false;               // --no-pack: "Pack after Defrag" off for this run
  std::string screenshot;            // --screenshot: save the idle window and end
  std::string classic;               // the classic command-line text, trimmed
  // --hex, --find, in the order given
  std::vector<ViewerRequest> viewer;
};

struct ParseResult {
  bool ok = true;
  std::string error;  // why the command line cannot be read
  LaunchOptions options;
};

// `args` are the words after the program name.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();
std::string VersionText();

// Exit codes of the process.
constexpr int kExitOk = 0;
constexpr int kExitRunFailed = 1;
constexpr int kExitBadCommandLine = 2;

// What this run was started with (set before Form_Load).
extern LaunchOptions Launch;
// True when the run is unattended: a classic command line or drive actions.
bool HasCommandLine();

// The map image file for `letter`: every "%d" in `pattern` replaced.
std::string MapPngPath(const std::string& pattern, char letter);

}  // namespace vr
