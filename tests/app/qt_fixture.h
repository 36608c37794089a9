// The real main window, off screen, with the shell installed.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/map_window.h"
#include "app/qt/main_window.h"
#include "app/qt/message_area.h"
#include "app/shell.h"
#include "app/unattended.h"
#include "platform/platform.h"
#include "qt_app.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr::test {

class QtWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    platform::ResetPlatform();
    platform::SetSettingsStore(platform::MakeMemorySettings());
    ResetErrorState();
    Busy = 0;
    ProgramEnded = false;
    RunFailed = false;
    Launch = LaunchOptions{};
    Unattended = false;
    DebugLogPath.clear();
    DebugLogText.clear();
    window = std::make_unique<NTBrimF>();
    InstallShell(window.get());
    ResetHooks();
  }
  void TearDown() override {
    SetMapScan(MapKind::Ntfs, nullptr);
    SetMapScan(MapKind::Fat, nullptr);
    InstallShell(nullptr);
    ResetHooks();
    window.reset();
    Unattended = false;
    platform::ResetPlatform();
  }
  // Captions of a menu's items, "-" for a separator.
  std::vector<std::string> Captions(MenuItem title) const {
    std::vector<std::string> out;
    for (QAction* a : window->MenuOf(title)->actions())
      out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
  }
  std::vector<std::string> MessageLines() const { return window->Messages()->LineTexts(); }

  std::unique_ptr<NTBrimF> window;
};

}  // namespace vr::test
