#include "app/qt/app_main.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "app/command_line.h"
#include "app/console_shell.h"
#include "app/hex_command.h"
#include "app/qt/guard.h"
#include "app/qt/main_window.h"
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

// Qt's own warnings (an offscreen plugin that cannot raise a window, a
// missing runtime folder) say nothing to a user of VoduRU: they are shown
// only when VODURU_DEBUG is set. Fatal messages always go through.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtFatalMsg && type != QtCriticalMsg && !std::getenv("VODURU_DEBUG")) return;
  std::cerr << message.toStdString() << "\n";
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

  qInstallMessageHandler(QtMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationName("VoduRU");
  int code = kExitOk;
  {
    NTBrimF window;
    InstallShell(&window);
    QTimer::singleShot(0, &window, [] { Guard([] { Form_Load(); }); });
    code = QApplication::exec();
    Form_Terminate();
    InstallShell(nullptr);
  }
  return code;
}

}  // namespace vr
