// Checksum and Validate on FAT volumes made by mkfs.fat and filled by
// mtools: the checksum file against the files as mtools reads them, a
// change and an erasure seen by Validate, the check log, a copy of the
// files on another volume, an empty drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "support/fat_fixtures.h"
#include "support/volume_images.h"
#include "tools/checksum.h"
#include "tools/checksum_tree.h"
#include "tools/tool_harness.h"
#include "tools/validate.h"
#include "volume/error_state.h"

namespace vr::test {
namespace {

using testsupport::FatVolume;

// The files a fixture holds now: path ("c:\DOCS\REPORT.TXT") -> content.
std::map<std::string, std::vector<uint8_t>> LiveFiles(const FatVolume& v) {
  std::map<std::string, const testsupport::FixtureEntry*> last;
  for (const auto& e : v.Entries()) last[e.path] = &e;
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& [path, e] : last) {
    if (e->folder || e->erased) continue;
    std::string p = "c:\\" + path;
    std::replace(p.begin(), p.end(), '/', '\\');
    files[p] = v.Read(path);
  }
  return files;
}

std::set<std::string> Folders(const FatVolume& v) {
  std::set<std::string> folders;
  for (const auto& e : v.Entries())
    if (e.folder) folders.insert(e.path);
  return folders;
}

class ChecksumFat : public ToolTest {};

TEST_F(ChecksumFat, ChecksumThenValidateFindsChangesAndErasures) {
  FatVolume v = testsupport::MakeFat16Fixture("tools-cycle");
  testsupport::RemoveOnExit cleanup{v.Path()};
  MapDrive(v.Path());
  const auto files = LiveFiles(v);

  ASSERT_TRUE(Timing_Checksum(tools));
  EXPECT_EQ(tools.calls.front(), "SetBusy");
  EXPECT_EQ(tools.calls.back(), "SetUnBusy");
  EXPECT_NE(std::find(tools.calls.begin(), tools.calls.end(), "Set_Checksum"), tools.calls.end());
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Checksum c:");
  const long folders = static_cast<long>(Folders(v).size()) + 1;
  EXPECT_EQ(lines[1], "Files= " + std::to_string(files.size()) +
                          "  Subdirs= " + std::to_string(folders) + " ");
  EXPECT_EQ(lines[2].rfind("Bytes=", 0), 0u);
  EXPECT_NE(lines[2].find("   MB/Sec="), std::string::npos);
  EXPECT_EQ(lines[3].rfind("Time=", 0), 0u);
  EXPECT_NE(lines[3].find(" Secs. Rate="), std::string::npos);
  EXPECT_NE(lines[3].find(" Files/Sec."), std::string::npos);
  EXPECT_EQ(tools.count, std::to_string(files.size()));
  EXPECT_GE(tools.charts, 2);  // at the first file and in the summary

  // The file: counts, folder 0 the drive, parents before their folders,
  // every file once with the checksum of its bytes as mtools reads them.
  const std::string text = SumFile();
  const ParsedSums sums = ParseSums(text);
  EXPECT_EQ(sums.folders, folders);
  EXPECT_EQ(sums.files, static_cast<long>(files.size()));
  ASSERT_FALSE(sums.folderLines.empty());
  EXPECT_EQ(sums.folderLines[0], std::make_pair(0L, std::string("c:")));
  for (size_t i = 1; i < sums.folderLines.size(); ++i)
    EXPECT_LT(sums.folderLines[i].first, static_cast<long>(i));
  ASSERT_EQ(sums.byPath.size(), files.size());
  uint64_t bytes = 0;
  for (const auto& [path, content] : files) {
    ASSERT_TRUE(sums.byPath.count(path)) << path;
    EXPECT_EQ(sums.byPath.at(path), ExpectedSum(content)) << path;
    bytes += content.size();
  }
  EXPECT_EQ(text.find('\n') + 1, text.find("0,\"c:\"\r\n"));
  std::vector<int64_t> counted = tools.sizes, expected;
  for (const auto& [path, content] : files) expected.push_back(content.size());
  std::sort(counted.begin(), counted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(counted, expected);

  // Nothing changed.
  ValidateResult r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.checked, static_cast<int32_t>(files.size()));
  EXPECT_EQ(r.differences, 0);
  EXPECT_EQ(r.erased, 0);
  EXPECT_TRUE(HasLine("Validate"));
  EXPECT_TRUE(HasLine("Drive=c: [VODURU]  Files= " + std::to_string(files.size()) + " "));
  EXPECT_TRUE(HasLine("No Differences"));
  EXPECT_FALSE(main.IsVisible(Control::lstValErrs));
  EXPECT_EQ(main.Items(Control::lstValErrs).size(), 1u);  // the header only
  EXPECT_EQ(main.Items(Control::lstValErrs)[0].rfind("-- Checksum=c: ", 0), 0u);
  EXPECT_EQ(CheckLog(), "");
  EXPECT_EQ(SumFile(), text);

  // One file's bytes changed (same size), one file erased.
  v.Write("DOCS/REPORT.TXT", 3000, 99);
  v.Delete("LAST.BIN");
  r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.differences, 1);
  EXPECT_EQ(r.erased, 1);
  EXPECT_TRUE(HasLine(" 1 Differences"));
  EXPECT_TRUE(HasLine(" 1 Erased."));
  EXPECT_TRUE(HasLine(home + "/Checksum.c updated."));
  EXPECT_TRUE(HasLine("See: " + home + "/CheckLog.c"));
  EXPECT_TRUE(main.IsVisible(Control::lstValErrs));
  const std::vector<std::string> found = main.Items(Control::lstValErrs);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(std::count(found.begin(), found.end(), "c:\\DOCS\\REPORT.TXT"), 1);
  EXPECT_EQ(std::count(found.begin(), found.end(), "c:\\LAST.BIN  (erased)"), 1);
  EXPECT_EQ(CheckLog(), found[0] + "\r\n" + found[1] + "\r\n" + found[2] + "\r\n");
  const ParsedSums updated = ParseSums(SumFile());
  EXPECT_EQ(updated.byPath.at("c:\\DOCS\\REPORT.TXT"), ExpectedSum(v.Read("DOCS/REPORT.TXT")));
  EXPECT_EQ(updated.byPath.at("c:\\LAST.BIN"), sums.byPath.at("c:\\LAST.BIN"));  // stays listed
  EXPECT_EQ(updated.files, sums.files);

  // The change is now known; the erased file is reported again.
  const std::string log = CheckLog();
  r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.differences, 0);
  EXPECT_EQ(r.erased, 1);
  EXPECT_TRUE(HasLine("No Differences"));
  EXPECT_TRUE(HasLine(" 1 Erased."));
  EXPECT_FALSE(HasLine(home + "/Checksum.c updated."));
  EXPECT_EQ(CheckLog().size(), log.size() + main.Items(Control::lstValErrs)[0].size() + 2 +
                                   std::string("c:\\LAST.BIN  (erased)\r\n").size());
}

TEST_F(ChecksumFat, EmptyDriveHoldsTheDriveAlone) {
  const std::string image = testsupport::TempPath("empty-fat.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1440, 12, "", "EMPTY", error)) << error;
  MapDrive(image);
  ASSERT_TRUE(Timing_Checksum(tools));
  EXPECT_EQ(SumFile(), "1,0\r\n0,\"c:\"\r\n");
  EXPECT_TRUE(HasLine("Files= 0  Subdirs= 1 "));
  const ValidateResult r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.checked, 0);
  EXPECT_TRUE(HasLine("No Differences"));
}

// The same files copied by mtools onto a volume of another layout (other
// cluster size, other places) validate without a difference.
TEST_F(ChecksumFat, CopyOfTheFilesOnAnotherVolumeValidates) {
  FatVolume v = testsupport::MakeFat16Fixture("tools-copy-source");
  testsupport::RemoveOnExit cleanup{v.Path()};
  MapDrive(v.Path());
  ASSERT_TRUE(Timing_Checksum(tools));

  const std::string dir = testsupport::TempPath("tools-copy-files");
  const std::string copy = testsupport::TempPath("tools-copy.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(copy, 16384, 16, "-s 4", "COPY", error)) << error;
  ASSERT_EQ(testsupport::RunFatTool("mkdir -p " + testsupport::ShellQuote(dir) +
                                        " && mcopy -s -n -i " + testsupport::ShellQuote(v.Path()) +
                                        " '::/*' " + testsupport::ShellQuote(dir) +
                                        " && mcopy -s -i " + testsupport::ShellQuote(copy) + " " +
                                        testsupport::ShellQuote(dir) + "/* ::/",
                                    &error),
            0)
      << error;
  MapDrive(copy);
  const ValidateResult r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.differences, 0);
  EXPECT_EQ(r.erased, 0);
  EXPECT_EQ(r.checked, ParseSums(SumFile()).files);
  EXPECT_TRUE(HasLine("No Differences"));
}

}  // namespace
}  // namespace vr::test
