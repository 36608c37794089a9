#include "app/qt/app_main.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/command_line.h"
#include "app/console_shell.h"
#include "app/hex_command.h"
#include "app/qt/qt_settings.h"
#include "app/scans.h"
#include "app/shell.h"
#include "drivers/builtin_drivers.h"
#include "platform/platform.h"

namespace vr {

namespace {

// The drive map of this run; false (after saying why) when it cannot be
// read and the run needs it.
bool Load_Drive_Map() {
  std::string error;
  if (Launch.haveDriveMap) {
    std::vector<platform::DriveEntry> drives;
    if (!platform::ParseDriveMap(Launch.driveMap, drives, error)) {
      std::cerr << "voduru: --drives: " << error << "\n";
      return false;
    }
    platform::SetDriveMap(std::move(drives));
    return true;
  }
  if (platform::LoadDriveMap(error)) return true;
  std::cerr << "voduru: drive map: " << error << "\n";
  // An interactive start goes on without drives; a run cannot.
  return !HasCommandLine() && Launch.viewer.empty();
}

// The windows module: beside the program in the build folder, else where
// the installation puts it relative to the program's folder.
std::string Windows_Module() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path folder = ec ? std::filesystem::path(".") : self.parent_path();
  const std::filesystem::path beside = folder / VODURU_WINDOWS_MODULE;
  if (std::filesystem::exists(beside, ec)) return beside.string();
  return (folder / VODURU_WINDOWS_MODULE_DIR / VODURU_WINDOWS_MODULE).lexically_normal().string();
}

// Loads the windows (Qt Widgets and Gui with them) and runs the main window.
int Run_Windows_Module(int argc, char** argv) {
  const std::string path = Windows_Module();
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  using Entry = int (*)(int, char**);
  Entry entry = module ? reinterpret_cast<Entry>(dlsym(module, "voduru_run_windows")) : nullptr;
  if (entry == nullptr) {
    const char* why = dlerror();
    std::cerr << "voduru: cannot load the windows " << path << ": " << (why ? why : "no entry")
              << "\n";
    return kExitRunFailed;
  }
  // The module stays loaded: Qt's objects live until the process ends.
  return entry(argc, argv);
}

// True when the windows cannot be seen: Qt is told to draw off screen, or
// there is neither an X nor a Wayland display.
bool NoDisplay() {
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  if (qpa != nullptr && *qpa != '\0') {
    const std::string name = qpa;
    return name.rfind("offscreen", 0) == 0 || name.rfind("minimal", 0) == 0;
  }
  return !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
}

}  // namespace

int RunVoduru(int argc, char** argv) {
  const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.ok) {
    std::cerr << "voduru: " << parsed.error << "\nTry 'voduru --help'.\n";
    return kExitBadCommandLine;
  }
  if (parsed.options.help) {
    std::cout << UsageText();
    return kExitOk;
  }
  if (parsed.options.version) {
    std::cout << VersionText();
    return kExitOk;
  }
  Launch = parsed.options;
  const bool noDisplay = NoDisplay();
  Headless = noDisplay && Launch.screenshot.empty();
  // Without a display a main window with nothing to do would wait forever
  // for a user who cannot see it.
  if (Headless && !HasCommandLine() && Launch.viewer.empty()) {
    std::cerr << "voduru: no display for the main window and no drive to run; see 'voduru "
                 "--help'\n";
    return kExitRunFailed;
  }
  platform::SetSettingsStore(MakeQtSettings());
  if (!Load_Drive_Map()) return kExitBadCommandLine;
  platform::RegisterBuiltinDrivers();
  Install_Map_Scans();
  if (!Launch.viewer.empty()) return Run_Viewer_Requests(Launch.viewer, std::cout, std::cerr);
  // A run nobody sees needs no window system, unless it saves a picture.
  if (Headless && Launch.mapPng.empty()) return Run_Console_Program();

  // Without a display the windows are drawn off screen.
  if (noDisplay) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return Run_Windows_Module(argc, argv);
}

}  // namespace vr
