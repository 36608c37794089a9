#include "fake_shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/command_line.h"
#include "app/map_window.h"
#include "app/shell.h"
#include "app/unattended.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/shared_state.h"

namespace vr::test {

bool FakeShell::HasLine(const std::string& text) const { return LineColour(text) >= 0; }

int FakeShell::LineColour(const std::string& text) const {
  for (const auto& line : rec.Lines())
    if (line.Text() == text) return line.pieces.empty() ? 0 : line.pieces.front().colour;
  return -1;
}

void ShellTest::SetUp() {
  platform::ResetPlatform();
  platform::SetSettingsStore(platform::MakeMemorySettings());
  const char* tmp = std::getenv("VODURU_TEST_TMP");
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  home =
      std::string(tmp ? tmp : "/tmp") + "/app-home/" + info->test_suite_name() + "." + info->name();
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  setenv("VODURU_HOME", home.c_str(), 1);

  ResetErrorState();
  Busy = 0;
  HistoShown = 0;
  ProgramEnded = false;
  RunFailed = false;
  Launch = LaunchOptions{};
  DebugLogPath.clear();
  DebugLogText.clear();
  Unattended = false;
  CheckedScan = kTrue;
  DefragMode = -1;
  BoxColors.ReDim(0);
  InstallShell(&shell);
  ResetHooks();
  // The mapped drives are images that do not exist: the pie chart is counted
  // here, not drawn (its own tests run it on real volumes).
  Hooks().Show_PiChart = [this] { ++pieCharts; };
  Hooks().ViewMap = [this] {
    ResetErrorState();
    const std::string text = shell.DrvUserText();
    viewMapDrives.push_back(text);
    viewMapFlags.emplace_back(CheckedScan, DefragMode);
    ReportLine("Drive=" + text);
    if (viewMapExtra) viewMapExtra();
    if (viewMapCompletes) ++MapRunsCompleted;
  };
}

void ShellTest::TearDown() {
  InstallShell(nullptr);
  ResetHooks();
  Unattended = false;
  DebugLogPath.clear();
  DebugLogText.clear();
  platform::ResetPlatform();
}

void ShellTest::MapDrives(const std::string& letters) {
  std::vector<platform::DriveEntry> drives;
  for (char c : letters) drives.push_back({c, home + "/missing-" + c + ".img", {}});
  platform::SetDriveMap(drives);
}

void ShellTest::StartWith(const std::vector<std::string>& words) {
  const ParseResult parsed = ParseCommandLine(words);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  Launch = parsed.options;
  Form_Load();
}

}  // namespace vr::test
