// The unattended runs: the classic drive-letter command line and the drive
// commands of an option command line, with the log they leave behind.
#include "app/unattended.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/command_line.h"
#include "app/shell.h"
#include "fake_shell.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

class UnattendedTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    MapDrives("cde");
  }
  std::vector<char> Letters() const {
    std::vector<char> out;
    for (const std::string& d : viewMapDrives) out.push_back(d.empty() ? '?' : d[0]);
    return out;
  }
  std::string LogPath() const { return home + "/VODURU.LOG"; }
  bool LogExists() const { return std::filesystem::exists(LogPath()); }
  std::string Log() const {
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(UnattendedTest, ClassicLineRunsEachNamedDriveInTurn) {
  StartWith({"/c", "/d"});
  EXPECT_EQ(Letters(), (std::vector<char>{'c', 'd'}));
  EXPECT_EQ(viewMapDrives[0], "c: []");
  for (const auto& flags : viewMapFlags) EXPECT_EQ(flags, std::make_pair(-1, 1));
  EXPECT_EQ(shell.exitCode, 0);
  EXPECT_TRUE(shell.WindowVisible());
}

TEST_F(UnattendedTest, SeparatorsAreSkippedAndCaseIgnored) {
  StartWith({"-C-e"});
  EXPECT_EQ(Letters(), (std::vector<char>{'c', 'e'}));
}

TEST_F(UnattendedTest, SameDriveTwiceRunsTwice) {
  StartWith({"/c/c"});
  EXPECT_EQ(Letters(), (std::vector<char>{'c', 'c'}));
}

TEST_F(UnattendedTest, LeadingLetterIsDropped) {
  StartWith({"c", "d"});
  EXPECT_EQ(Letters(), (std::vector<char>{'d'}));
}

TEST_F(UnattendedTest, LettersWithoutADriveAreIgnored) {
  StartWith({"/x", "/d", "/z"});
  EXPECT_EQ(Letters(), (std::vector<char>{'d'}));
}

TEST_F(UnattendedTest, LineNamingNoDriveWritesNoLogAndLeavesTheWindowIdle) {
  for (const char* line : {"x", "/x", "/", "//  --"}) {
    SCOPED_TRACE(line);
    StartWith({line});
    EXPECT_TRUE(viewMapDrives.empty());
    EXPECT_FALSE(shell.exitCode.has_value());
    EXPECT_FALSE(ProgramEnded);
    EXPECT_FALSE(LogExists());
    EXPECT_TRUE(shell.WindowVisible());
    EXPECT_TRUE(shell.Lines().empty());
    // No start-up selection of drive C either.
    EXPECT_EQ(shell.DrvUserIndex(), -1);
    EXPECT_FALSE(Unattended);
  }
}

TEST_F(UnattendedTest, LogHoldsTheReportLinesWithCrLf) {
  StartWith({"/d"});
  ASSERT_TRUE(LogExists());
  EXPECT_EQ(Log(), "Drive=d: []\r\n\r\n");
  EXPECT_EQ(DebugLogPath, LogPath());
}

TEST_F(UnattendedTest, AFailedDriveEndsTheRunAtOnce) {
  viewMapExtra = [this] {
    if (viewMapDrives.size() == 1) {
      ReportError("Drive Busy");
      ErrorState.Failed = kTrue;
    }
  };
  StartWith({"/c", "/d"});
  EXPECT_EQ(Letters(), (std::vector<char>{'c'}));
  EXPECT_EQ(shell.exitCode, 1);
  EXPECT_EQ(Log(), "Drive=c: []\r\nDrive Busy\r\n\r\n");
}

TEST_F(UnattendedTest, ARefusedDriveDoesNotStopTheRunButFailsIt) {
  // A drive whose map window never opened (an unsupported file system, say).
  viewMapExtra = [this] { viewMapCompletes = viewMapDrives.size() != 1; };
  StartWith({"/c", "/d"});
  EXPECT_EQ(Letters(), (std::vector<char>{'c', 'd'}));
  EXPECT_EQ(shell.exitCode, 1);
}

TEST_F(UnattendedTest, DrivesRunWithTheWindowPreparedForTheMap) {
  BoxColors.ReDim(40);
  shell.SetVisible(Control::frmInuse, true);
  shell.AddItem(Control::lstInuse, "old entry");
  viewMapExtra = [this] {
    EXPECT_EQ(BoxColors.UBound(), 0);
    EXPECT_FALSE(shell.IsVisible(Control::frmInuse));
    EXPECT_FALSE(shell.IsVisible(Control::lblMaker));
    EXPECT_FALSE(shell.IsVisible(Control::imgBrim));
    EXPECT_TRUE(shell.Items(Control::lstInuse).empty());
  };
  StartWith({"/c"});
  EXPECT_EQ(viewMapDrives.size(), 1u);
}

TEST_F(UnattendedTest, OptionCommandsRunInOrderWithTheirFlags) {
  StartWith({"--fast-view", "e", "--checked-view", "c", "--defrag", "d"});
  EXPECT_EQ(Letters(), (std::vector<char>{'e', 'c', 'd'}));
  ASSERT_EQ(viewMapFlags.size(), 3u);
  EXPECT_EQ(viewMapFlags[0], std::make_pair(0, -1));
  EXPECT_EQ(viewMapFlags[1], std::make_pair(-1, -1));
  EXPECT_EQ(viewMapFlags[2], std::make_pair(-1, 1));  // "Pack after Defrag" is on
  EXPECT_EQ(shell.exitCode, 0);
  EXPECT_TRUE(Unattended);
  EXPECT_FALSE(LogExists());  // option commands report to standard output
}

TEST_F(UnattendedTest, OptionDefragFollowsThePackOption) {
  platform::Settings().Save("Options", "Pack", "No");
  StartWith({"--defrag", "c"});
  ASSERT_EQ(viewMapFlags.size(), 1u);
  EXPECT_EQ(viewMapFlags[0], std::make_pair(-1, 0));
}

// --no-pack turns "Pack after Defrag" off for the run only: --defrag and the
// classic words defragment without packing, the menu shows it off, and the
// stored option is what it was (on by default, or stored on).
TEST_F(UnattendedTest, NoPackDefragmentsOnlyAndStoresNothing) {
  StartWith({"--no-pack", "--defrag", "c", "/d"});
  EXPECT_EQ(viewMapFlags, (std::vector<std::pair<int, int>>{{-1, 0}, {-1, 0}}));
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_FALSE(platform::Settings().Get("Options", "Pack").has_value());
}

TEST_F(UnattendedTest, NoPackLeavesAStoredPackOptionAsItWas) {
  platform::Settings().Save("Options", "Pack", "Yes");
  StartWith({"--no-pack", "--defrag", "c"});
  EXPECT_EQ(viewMapFlags, (std::vector<std::pair<int, int>>{{-1, 0}}));
  EXPECT_EQ(platform::Settings().Get("Options", "Pack").value_or("none"), "Yes");
}

TEST_F(UnattendedTest, OptionCommandOnAnUnmappedDriveFailsTheRun) {
  StartWith({"--checked-view", "q", "--checked-view", "c"});
  EXPECT_EQ(Letters(), (std::vector<char>{'c'}));
  EXPECT_EQ(shell.exitCode, 1);
}

TEST_F(UnattendedTest, EveryOptionCommandRunsAndAFailureSetsTheExitStatus) {
  viewMapExtra = [] { ErrorState.Failed = kTrue; };
  StartWith({"--checked-view", "c", "--checked-view", "d", "/e", "/c"});
  // The classic words still stop at their first failure.
  EXPECT_EQ(Letters(), (std::vector<char>{'c', 'd', 'e'}));
  EXPECT_EQ(shell.exitCode, 1);
}

TEST_F(UnattendedTest, OptionCommandsThenClassicWords) {
  StartWith({"--checked-view", "e", "/c", "/d"});
  EXPECT_EQ(Letters(), (std::vector<char>{'e', 'c', 'd'}));
  EXPECT_EQ(viewMapFlags[1], std::make_pair(-1, 1));
  EXPECT_EQ(shell.exitCode, 0);
  EXPECT_EQ(Log(), "Drive=c: []\r\nDrive=d: []\r\n\r\n");
}

TEST_F(UnattendedTest, MapImageSavedAfterEachDrive) {
  StartWith({"--map-png", home + "/map-%d.png", "--fast-view", "d", "/c"});
  EXPECT_EQ(shell.savedMaps, (std::vector<std::string>{home + "/map-d.png", home + "/map-c.png"}));
}

TEST_F(UnattendedTest, OptionLineWithoutCommandsStartsInteractively) {
  StartWith({"--drives", "c=/nowhere.img"});
  EXPECT_TRUE(viewMapDrives.empty());
  EXPECT_FALSE(shell.exitCode.has_value());
  EXPECT_EQ(shell.DrvUserIndex(), 0);  // drive C selected as at any start
  EXPECT_FALSE(Unattended);
}

}  // namespace
}  // namespace vr::test
