// Start-up, the menu commands, the keyboard, closing and the busy state.
#include <gtest/gtest.h>

#include "app/drive_list.h"
#include "app/shell.h"
#include "app/version_info.h"
#include "fake_shell.h"
#include "platform/platform.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

using CommandsTest = ShellTest;

TEST_F(CommandsTest, VolumeCommandsSetTheirFlagsAndHelpContext) {
  MapDrives("c");
  Form_Load();
  struct Case {
    void (*command)();
    int checked, mode, help;
  };
  const Case cases[] = {
      {Scan__Click, -1, -1, 280}, {ViewMap__Click, 0, -1, 40}, {DeFrag__Click, -1, 1, 120}};
  for (const Case& c : cases) {
    viewMapFlags.clear();
    int helpSeen = 0;
    viewMapExtra = [&] { helpSeen = shell.HelpContext(); };
    c.command();
    ASSERT_EQ(viewMapFlags.size(), 1u);
    EXPECT_EQ(viewMapFlags[0], std::make_pair(c.checked, c.mode));
    EXPECT_EQ(helpSeen, c.help);
  }
}

TEST_F(CommandsTest, ResetTheDisplayClearsListsMapAndFlags) {
  shell.MsgWrite("old", kBlack);
  shell.MsgEndLine();
  BoxColors.ReDim(100);
  HistoShown = kTrue;
  shell.SetVisible(Control::frmInuse, true);
  shell.AddItem(Control::lstInuse, "a\\b.txt");
  shell.SetVisible(Control::lstValErrs, true);
  shell.AddItem(Control::lstValErrs, "c\\d.txt");
  shell.SetVisible(Control::picMap, false);
  shell.SetVisible(Control::imgBrim, false);
  shell.SetVisible(Control::lblMaker, false);
  shell.SetHelpContext(280);
  Drive__Click();
  EXPECT_TRUE(shell.Lines().empty());
  EXPECT_EQ(shell.MsgY(), 4);
  EXPECT_EQ(BoxColors.UBound(), 0);
  EXPECT_EQ(HistoShown, 0);
  EXPECT_FALSE(shell.IsVisible(Control::frmInuse));
  EXPECT_TRUE(shell.Items(Control::lstInuse).empty());
  EXPECT_FALSE(shell.IsVisible(Control::lstValErrs));
  EXPECT_TRUE(shell.Items(Control::lstValErrs).empty());
  EXPECT_TRUE(shell.IsVisible(Control::picMap));
  EXPECT_TRUE(shell.IsVisible(Control::imgBrim));
  EXPECT_TRUE(shell.IsVisible(Control::lblMaker));
  EXPECT_EQ(shell.HelpContext(), 10);
  EXPECT_NE(std::find(shell.calls.begin(), shell.calls.end(), "ClearMap"), shell.calls.end());
}

TEST_F(CommandsTest, EscSetsFailedAndTheNextCommandClearsIt) {
  Form_KeyDown(65, 0);  // any other key: no stop
  EXPECT_EQ(ErrorState.Failed, 0);
  Form_KeyDown(27, 0);
  EXPECT_EQ(ErrorState.Failed, -1);
  Hex__Click();
  EXPECT_EQ(ErrorState.Failed, 0);
  Form_KeyDown(27, 0);
  ASSERT_EQ(ErrorState.Failed, -1);
  int failedInViewMap = 1;
  Hooks().ViewMap = [&] { failedInViewMap = ErrorState.Failed; };
  ViewMap__Click();
  EXPECT_EQ(failedInViewMap, -1);  // ViewMap itself resets the error state
}

TEST_F(CommandsTest, CloseWhileBusyIsRefusedOnce) {
  EXPECT_FALSE(Form_QueryUnload());  // idle: closes
  SetBusy();
  EXPECT_EQ(Busy, -1);
  EXPECT_TRUE(Form_QueryUnload());
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Busy, 0);
  EXPECT_FALSE(Form_QueryUnload());
}

TEST_F(CommandsTest, BusyDisablesCommandsAndUnBusyEnablesThem) {
  const Control controls[] = {Control::Drive_, Control::DrvUser,  Control::Help_,
                              Control::Hex_,   Control::Options_, Control::Tools_};
  shell.SetVisible(Control::imgBrim, true);
  ErrorState.Failed = kTrue;
  SetBusy();
  for (Control c : controls) EXPECT_FALSE(shell.IsEnabled(c));
  EXPECT_FALSE(shell.IsVisible(Control::imgBrim));
  EXPECT_EQ(ErrorState.Failed, 0);
  SetUnBusy();
  for (Control c : controls) EXPECT_TRUE(shell.IsEnabled(c));
  EXPECT_EQ(Busy, 0);
  EXPECT_EQ(shell.calls.back(), "Normal");
}

TEST_F(CommandsTest, CrapOutCarriesOnWhenAStepFails) {
  shell.onDoEvents = [] { throw RunError(kErrOutOfMemory); };
  CrapOut("Something broke");
  EXPECT_EQ(shell.LineColour("Something broke"), kLightRed);
  ASSERT_FALSE(shell.rec.Lines().empty());
  EXPECT_EQ(shell.rec.Lines().front().y, 3);
  EXPECT_TRUE(shell.WindowVisible());
  EXPECT_FALSE(shell.IsEnabled(Control::Drive_));
  EXPECT_EQ(Busy, 0);  // the window can still be closed
  EXPECT_FALSE(Form_QueryUnload());
}

TEST_F(CommandsTest, WrongWindowsVersionLeavesADeadWindow) {
  platform::SetVersion(5, 0, 2195, "");
  MapDrives("c");
  Form_Load();
  EXPECT_EQ(shell.LineColour("NT Version 4 required."), kLightRed);
  EXPECT_FALSE(shell.IsEnabled(Control::Drive_));
  EXPECT_FALSE(shell.IsEnabled(Control::Tools_));
  EXPECT_TRUE(shell.WindowVisible());
  EXPECT_FALSE(shell.exitCode.has_value());
  EXPECT_EQ(shell.DrvUserIndex(), -1);  // the start-up stopped before selecting C
}

TEST_F(CommandsTest, WrongWindowsVersionEndsAnOptionRun) {
  platform::SetVersion(3, 51, 1057, "");
  MapDrives("c");
  StartWith({"--checked-view", "c"});
  EXPECT_TRUE(viewMapDrives.empty());
  EXPECT_EQ(shell.exitCode, 1);
}

TEST_F(CommandsTest, InteractiveStartSelectsDriveC) {
  MapDrives("dc");
  CheckedScan = 0;
  Form_Load();
  EXPECT_EQ(shell.Items(Control::DrvUser), (std::vector<std::string>{"c: []", "d: []"}));
  EXPECT_EQ(shell.DrvUserText(), "c: []");
  EXPECT_EQ(CheckedScan, -1);  // DrvUser_Change ran
  EXPECT_TRUE(shell.IsVisible(Control::DrvUser));
  EXPECT_TRUE(shell.IsVisible(Control::lblMaker));
  EXPECT_TRUE(shell.WindowVisible());
  EXPECT_EQ(std::count(shell.calls.begin(), shell.calls.end(), "DoEvents"), 10);
  EXPECT_FALSE(shell.exitCode.has_value());
  EXPECT_FALSE(Unattended);
}

TEST_F(CommandsTest, InteractiveStartWithoutDriveCStillShowsTheWindow) {
  MapDrives("d");
  Form_Load();
  EXPECT_EQ(shell.DrvUserIndex(), -1);
  EXPECT_TRUE(shell.IsVisible(Control::DrvUser));
  EXPECT_TRUE(shell.IsVisible(Control::lblMaker));
  EXPECT_TRUE(shell.WindowVisible());
}

TEST_F(CommandsTest, MapGeometryFollowsTheScreen) {
  shell.metrics = {15, 4, 4, 18, 20, 8, 30};
  Form_Load();
  EXPECT_EQ(BoxSize, 4);
  EXPECT_EQ(BoxPitch, 5);
  EXPECT_EQ(StatusColumn, 160);
  EXPECT_EQ(shell.mapWidth, 75 * 5 + 5);
  EXPECT_EQ(shell.mapHeight, 47 * 5 + 15);
  EXPECT_EQ(MapLeftOffset, 4);
  EXPECT_EQ(MapTopOffset, 30 + 4 + 18 + 20);
  EXPECT_EQ(BoxCount, 3525);

  shell.metrics.twipsPerPixelX = 12;  // large fonts
  Form_Load();
  EXPECT_EQ(BoxSize, 5);
  EXPECT_EQ(StatusColumn, 180);
  EXPECT_EQ(shell.mapWidth, 75 * 6 + 5);
  EXPECT_EQ(shell.mapHeight, 47 * 6 + 15);
}

TEST_F(CommandsTest, DriveChangeResetsAndSetsCheckedScan) {
  MapDrives("cd");
  Form_Load();
  shell.MsgWrite("report", kBlack);
  shell.MsgEndLine();
  CheckedScan = 0;
  Select_Drive(1);
  EXPECT_EQ(shell.DrvUserText(), "d: []");
  EXPECT_EQ(CheckedScan, -1);
  EXPECT_TRUE(shell.Lines().empty());
  // Selecting the drive already selected raises no change.
  shell.MsgWrite("kept", kBlack);
  shell.MsgEndLine();
  Select_Drive(1);
  EXPECT_TRUE(shell.HasLine("kept"));
}

TEST_F(CommandsTest, DriveListShowsLetterAndBracketedLabel) {
  MapDrives("ec");
  const std::vector<std::string> entries = DriveListEntries();
  EXPECT_EQ(entries, (std::vector<std::string>{"c: []", "e: []"}));
  Fill_Drive_List();
  EXPECT_EQ(Find_Drive_Entry('e'), 1);
  EXPECT_EQ(Find_Drive_Entry('x'), -1);
}

TEST_F(CommandsTest, AboutBoxTextsComeFromTheVersionInformation) {
  About__Click();
  EXPECT_EQ(shell.aboutApp,
            std::string("VoduRU ") + kFileDescription + "  -  Windows " + Win_Version() + "#");
  EXPECT_EQ(shell.aboutOther, std::string(kLegalCopyright) + "\r\n" + kComments);
  EXPECT_EQ(Win_Version().substr(0, 1), "4");
}

TEST_F(CommandsTest, HelpOpensAtContentsOrTheCurrentContext) {
  Content__Click();
  Scan__Click();
  ShowContextHelp();
  EXPECT_EQ(shell.helpShown, (std::vector<int>{0, 280}));
}

TEST_F(CommandsTest, ExitEndsTheProgramAtOnce) {
  Exit__Click();
  EXPECT_EQ(shell.exitCode, 0);
  EXPECT_TRUE(ProgramEnded);
}

}  // namespace
}  // namespace vr::test

namespace vr::test {
namespace {

TEST_F(CommandsTest, DriveListReadsTheVolumeLabel) {
  const std::string image = testsupport::TempPath("label.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1024, 12, "", "VODUC", error)) << error;
  platform::SetDriveMap({{'c', image, {}}, {'d', home + "/missing.img", {}}});
  EXPECT_EQ(DriveListEntries(), (std::vector<std::string>{"c: [VODUC]", "d: []"}));
}

}  // namespace
}  // namespace vr::test
