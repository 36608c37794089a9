// Checksum and Validate on the NTFS fixture (mkntfs, filled by libntfs-3g):
// every file's checksum against its bytes as libntfs-3g reads them, then a
// change and an erasure made by libntfs-3g, seen once each.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "tools/checksum.h"
#include "tools/ntfs_edit.h"
#include "tools/read_timing.h"
#include "tools/tool_harness.h"
#include "tools/validate.h"

namespace vr::test {
namespace {

class ChecksumNtfs : public ToolTest {};

TEST_F(ChecksumNtfs, ChecksumThenValidateOnTheFixture) {
  const testsupport::NtfsFixture& fixture = testsupport::SharedNtfsFixture();
  const std::string image = testsupport::TempPath("tools-ntfs.img");
  std::filesystem::copy_file(fixture.Path(), image);
  MapDrive(image);

  ASSERT_TRUE(Timing_Checksum(tools));
  const ParsedSums sums = ParseSums(SumFile());
  size_t files = 0, folders = 1;
  std::string changed, erased;
  for (const testsupport::NtfsFixtureEntry& e : fixture.Entries()) {
    if (e.flags & testsupport::kNtfsNamedStream) continue;
    if (e.flags & testsupport::kNtfsFolder) {
      ++folders;
      continue;
    }
    ++files;
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsRead(image, e.path, data, error)) << error;
    const std::string path = "c:\\" + e.path;
    ASSERT_TRUE(sums.byPath.count(path)) << path;
    EXPECT_EQ(sums.byPath.at(path), ExpectedSum(data)) << path;
    if (e.flags == 0 && e.size > 5000 && changed.empty())
      changed = e.path;
    else if (e.flags == 0 && e.size > 0 && erased.empty())
      erased = e.path;
  }
  EXPECT_EQ(sums.files, static_cast<long>(files));
  EXPECT_EQ(sums.folders, static_cast<long>(folders));
  EXPECT_TRUE(
      HasLine("Files= " + std::to_string(files) + "  Subdirs= " + std::to_string(folders) + " "));

  ValidateResult r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.checked, static_cast<int32_t>(files));
  EXPECT_EQ(r.differences, 0);
  EXPECT_TRUE(HasLine("No Differences"));

  ASSERT_FALSE(changed.empty());
  ASSERT_FALSE(erased.empty());
  std::string error;
  ASSERT_TRUE(NtfsOverwrite(image, changed, 4096, {0x55, 0xAA, 0x55}, error)) << error;
  ASSERT_TRUE(NtfsDeleteFile(image, erased, error)) << error;
  r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.differences, 1);
  EXPECT_EQ(r.erased, 1);
  const std::vector<std::string> found = main.Items(Control::lstValErrs);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].rfind("-- Checksum=c: ", 0), 0u);
  EXPECT_EQ(std::count(found.begin(), found.end(), "c:\\" + changed), 1);
  EXPECT_EQ(std::count(found.begin(), found.end(), "c:\\" + erased + "  (erased)"), 1);
  EXPECT_EQ(CheckLog(), found[0] + "\r\n" + found[1] + "\r\n" + found[2] + "\r\n");

  r = Timing_Validate(tools);
  EXPECT_EQ(r.differences, 0);
  EXPECT_EQ(r.erased, 1);

  // Scan Files reads the same files: their bytes are the fixture's sizes.
  ASSERT_TRUE(TimingD(tools));
  EXPECT_TRUE(HasLine("Files= " + std::to_string(files - 1) +
                      "  Subdirs= " + std::to_string(folders) + " "));
  std::filesystem::remove(image);
}

}  // namespace
}  // namespace vr::test
