#include "app/qt/window_main.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "app/event_guard.h"
#include "app/qt/main_window.h"
#include "app/shell.h"

namespace vr {

namespace {

// Qt's own warnings (an offscreen plugin that cannot raise a window, a
// missing runtime folder) say nothing to a user of VoduRU: they are shown
// only when VODURU_DEBUG is set. Fatal messages always go through.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtFatalMsg && type != QtCriticalMsg && !std::getenv("VODURU_DEBUG")) return;
  std::cerr << message.toStdString() << "\n";
}

}  // namespace

int Run_Windows(int argc, char** argv) {
  qInstallMessageHandler(QtMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationName("VoduRU");
  int code = 0;
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

int voduru_run_windows(int argc, char** argv) { return vr::Run_Windows(argc, argv); }
