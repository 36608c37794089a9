// The Tools menu on a real FAT volume through the shell: the busy state,
// the Checksum mark and Validate's enabling, the size chart's classes, the
// count label, and the unattended --checksum, --validate and --scan-files
// runs with their log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/charts/size_chart.h"
#include "app/command_line.h"
#include "app/shell.h"
#include "fake_shell.h"
#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr::test {
namespace {

class ToolCommandsTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    platform::RegisterBuiltinDrivers();
    volume = testsupport::MakeFat12Fixture("app-tools");
    empty = testsupport::FatImagePath("app-tools-empty");
    testsupport::FatVolume(empty, testsupport::FatFormat{});
    platform::SetDriveMap({{'c', volume.Path(), {}}, {'d', empty, {}}});
    shell.rec.AddItem(Control::DrvUser, "c: [VODURU]");
    shell.rec.AddItem(Control::DrvUser, "d: [VODURU]");
    Select_Drive(0);
  }
  void TearDown() override {
    std::filesystem::remove(volume.Path());
    std::filesystem::remove(empty);
    ShellTest::TearDown();
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  testsupport::FatVolume volume;
  std::string empty;
};

TEST_F(ToolCommandsTest, MenuCommandsRunTheToolsOnTheSelectedDrive) {
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Checksum_));
  // The live files of the fixture and their size classes.
  std::map<std::string, uint32_t> sizes;
  for (const auto& e : volume.Entries())
    if (!e.folder) sizes[e.path] = e.size;
  std::vector<int> classes(16, 0);
  for (const auto& e : volume.Entries())
    if (e.erased) sizes.erase(e.path);
  for (const auto& [path, size] : sizes) classes[Size_Bucket(size, 15)] += 1;

  Checksum__Click();
  EXPECT_EQ(shell.HelpContext(), 10);  // set before the display reset, which sets 10
  EXPECT_EQ(Busy, 0);
  EXPECT_TRUE(shell.IsEnabled(Control::Tools_));
  EXPECT_TRUE(shell.IsEnabled(Control::DrvUser));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Checksum_));
  EXPECT_TRUE(shell.IsEnabled(Control::Validate_));
  EXPECT_TRUE(shell.HasLine("Checksum c:"));
  EXPECT_EQ(HistoShown, -1);
  EXPECT_FALSE(shell.IsVisible(Control::lblMaker));
  EXPECT_EQ(shell.labels[Control::lblCount], std::to_string(sizes.size()));
  for (int k = 0; k < 16; ++k) EXPECT_EQ(SizeBuckets(k), classes[k]) << "class " << k;
  EXPECT_TRUE(std::filesystem::exists(home + "/Checksum.c"));
  EXPECT_TRUE(ToolSucceeded);

  Validate__Click();
  EXPECT_EQ(shell.HelpContext(), 390);
  EXPECT_TRUE(shell.HasLine("No Differences"));
  EXPECT_TRUE(ToolSucceeded);
  TimingD__Click();
  EXPECT_TRUE(shell.HasLine("Drive=c: [VODURU]"));
  for (int k = 0; k < 16; ++k) EXPECT_EQ(SizeBuckets(k), classes[k]) << "class " << k;

  // Drive d has no checksum file: no mark; Validate there says so.
  Select_Drive(1);
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Checksum_));
  Validate__Click();
  EXPECT_EQ(shell.LineColour("File not found"), kLightRed);
  EXPECT_FALSE(ToolSucceeded);
  Select_Drive(0);
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Checksum_));
}

TEST_F(ToolCommandsTest, OptionRunWritesTheToolLinesToTheLog) {
  StartWith({"--checksum", "c", "--validate", "c", "--scan-files", "d"});
  EXPECT_EQ(shell.exitCode, kExitOk);
  const std::string log = Read(home + "/VODURU.LOG");
  EXPECT_NE(log.find("Checksum c:\r\n"), std::string::npos);
  EXPECT_NE(log.find("Validate\r\nDrive=c: "), std::string::npos);
  EXPECT_NE(log.find("No Differences\r\n"), std::string::npos);
  EXPECT_NE(log.find("Drive=d: [VODURU]\r\nFiles= 0  Subdirs= 1 \r\n"), std::string::npos);
  EXPECT_TRUE(viewMapDrives.empty());
}

TEST_F(ToolCommandsTest, OptionRunOfAFailedToolEndsWithStatusOne) {
  StartWith({"--validate", "d"});
  EXPECT_EQ(shell.exitCode, kExitRunFailed);
  EXPECT_NE(Read(home + "/VODURU.LOG").find("File not found\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vr::test
