// --hex and --find: reading them from the command line and running them
// headless on real volumes.
#include "app/hex_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/command_line.h"
#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/session.h"

namespace vr::test {
namespace {

namespace ts = testsupport;

TEST(HexCommandLine, HexAndFindTakeADriveAndAnArgument) {
  ParseResult r =
      ParseCommandLine({"--drives", "c=a.img", "--hex", "C:", "12", "--find", "c", "Size > 1Mb"});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.options.viewer.size(), 2u);
  EXPECT_FALSE(r.options.viewer[0].find);
  EXPECT_EQ(r.options.viewer[0].letter, 'c');
  EXPECT_EQ(r.options.viewer[0].argument, "12");
  EXPECT_TRUE(r.options.viewer[1].find);
  EXPECT_EQ(r.options.viewer[1].argument, "Size > 1Mb");
  EXPECT_TRUE(r.options.classic.empty());

  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--hex", "c"},
                                              {"--hex", "c", "x1"},
                                              {"--hex", "12", "c"},
                                              {"--find", "c"},
                                              {"--find", "c", ""},
                                              {"--hex"}}) {
    r = ParseCommandLine(bad);
    EXPECT_FALSE(r.ok) << bad.size();
  }
  EXPECT_NE(UsageText().find("--hex X RECORD"), std::string::npos);
  EXPECT_NE(UsageText().find("--find X SEARCH"), std::string::npos);
}

class HexCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    SetMainWindow(&main);
    ResetErrorState();
  }
  void TearDown() override {
    SetMainWindow(nullptr);
    platform::ResetPlatform();
  }
  int Run(const std::vector<ViewerRequest>& requests) {
    out.str("");
    err.str("");
    return Run_Viewer_Requests(requests, out, err);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  RecordingMainWindow main;
  std::ostringstream out, err;
};

TEST_F(HexCommandTest, RecordsDirectoriesAndSearchesToStandardOutput) {
  const auto& ntfs = ts::SharedNtfsFixture();
  ts::FatVolume fat = ts::MakeFat12Fixture("hexcmd-fat12");
  ts::RemoveOnExit remove{fat.Path()};
  const std::vector<uint8_t> ntfsBefore = ts::ReadFileBytes(ntfs.Path());
  platform::SetDriveMap(
      {platform::DriveEntry{'c', ntfs.Path(), {}}, platform::DriveEntry{'d', fat.Path(), {}}});

  // Record 0: 1 KB in 64 lines, fixed up.
  ASSERT_EQ(Run({{false, 'c', "0"}}), 0) << err.str();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(lines[0].substr(0, 18), "0000  46 49 4C 45 ");
  EXPECT_EQ(lines[0].substr(lines[0].size() - 16, 4), "FILE");
  EXPECT_EQ(lines[63].substr(0, 4), "03F0");
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);

  // A search lists its records, one a line; the answer follows "=".
  int64_t original = -1;
  std::string error;
  ASSERT_TRUE(ts::LibntfsRecordNumber(ntfs.Path(), "links\\original.txt", original, error));
  ASSERT_EQ(Run({{true, 'c', "Two Names"}}), 0) << err.str();
  lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), std::to_string(original)), lines.end());
  ASSERT_EQ(Run({{true, 'c', "FileName=original.TXT"}}), 0);
  EXPECT_EQ(Lines(), std::vector<std::string>{std::to_string(original)});
  ASSERT_EQ(Run({{true, 'c', "Entry x0h=8"}}), 0);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(Run({{true, 'c', "Two names"}}), 2);
  EXPECT_NE(err.str().find("no search named \"Two names\""), std::string::npos);
  EXPECT_EQ(Run({{true, 'c', "FileName"}}), 2);

  // FAT: sector 0 of the root directory; no searches.
  ASSERT_EQ(Run({{false, 'd', "0"}}), 0) << err.str();
  lines = Lines();
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 16, 6), "VODURU");
  EXPECT_EQ(Run({{true, 'd', "Subdir"}}), 1);

  // "FAT" is FAT12 and FAT16 only: a FAT32 volume is not viewed.
  ts::FatVolume fat32 = ts::MakeFat32Fixture("hexcmd-fat32");
  ts::RemoveOnExit remove32{fat32.Path()};
  platform::SetDriveMap(
      {platform::DriveEntry{'c', ntfs.Path(), {}}, platform::DriveEntry{'e', fat32.Path(), {}}});
  EXPECT_EQ(Run({{false, 'e', "0"}}), 1);
  EXPECT_TRUE(out.str().empty());
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);

  // A drive that is not mapped says why and fails; the worst code wins.
  EXPECT_EQ(Run({{false, 'c', "5"}, {false, 'q', "0"}}), 1);
  EXPECT_FALSE(err.str().empty());
  EXPECT_EQ(ts::ReadFileBytes(ntfs.Path()), ntfsBefore);
}

}  // namespace
}  // namespace vr::test
