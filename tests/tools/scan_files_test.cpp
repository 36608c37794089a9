// Scan Files, and the failure paths both walks share: a file other
// programs hold open, a file that cannot be read to its end, Esc, a drive
// with nothing on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "runtime/format.h"
#include "support/fat_fixtures.h"
#include "support/volume_images.h"
#include "tools/checksum.h"
#include "tools/read_timing.h"
#include "tools/tool_harness.h"
#include "tools/validate.h"
#include "volume/error_state.h"

namespace vr::test {
namespace {

using testsupport::FatVolume;

struct Expected {
  std::vector<int64_t> sizes;  // of every live file, sorted
  long folders = 1;            // the root included
  int64_t bytes = 0;
};

Expected Contents(const FatVolume& v) {
  std::map<std::string, const testsupport::FixtureEntry*> last;
  for (const auto& e : v.Entries()) last[e.path] = &e;
  Expected x;
  for (const auto& [path, e] : last) {
    if (e->folder) ++x.folders;
    if (e->folder || e->erased) continue;
    x.sizes.push_back(e->size);
    x.bytes += e->size;
  }
  std::sort(x.sizes.begin(), x.sizes.end());
  return x;
}

class ScanFiles : public ToolTest {};

TEST_F(ScanFiles, ReportsFilesFoldersBytesAndSizes) {
  FatVolume v = testsupport::MakeFat12Fixture("tools-scan");
  testsupport::RemoveOnExit cleanup{v.Path()};
  MapDrive(v.Path());
  const Expected x = Contents(v);

  ASSERT_TRUE(TimingD(tools));
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Drive=c: [VODURU]");
  EXPECT_EQ(lines[1], "Files= " + std::to_string(x.sizes.size()) +
                          "  Subdirs= " + std::to_string(x.folders) + " ");
  EXPECT_EQ(lines[2].substr(0, lines[2].find("   MB/Sec=")),
            "Bytes=" + Format(static_cast<double>(x.bytes), "#,###"));
  EXPECT_EQ(lines[3].rfind("Time=", 0), 0u);
  std::vector<int64_t> counted = tools.sizes;
  std::sort(counted.begin(), counted.end());
  EXPECT_EQ(counted, x.sizes);
  EXPECT_EQ(tools.count, std::to_string(x.sizes.size()));
  EXPECT_EQ(tools.calls.front(), "SetBusy");
  EXPECT_EQ(tools.calls.back(), "SetUnBusy");
  // The map picture keeps what it showed until the chart is drawn.
  EXPECT_EQ(std::count(tools.calls.begin(), tools.calls.end(), "ClearMap"), 0);
  EXPECT_FALSE(main.busyCursor);
}

TEST_F(ScanFiles, BusyFileIsCountedWithNoBytesAndUnreadableFileStopsTheSummary) {
  FatVolume v = testsupport::MakeFat16Fixture("tools-busy");
  testsupport::RemoveOnExit cleanup{v.Path()};
  const Expected x = Contents(v);
  MapDrive(v.Path(), {"pagefile.sys"});

  // pagefile.sys cannot be opened: counted, size 0 (class 0), no bytes.
  ASSERT_TRUE(TimingD(tools));
  EXPECT_TRUE(HasLine("Files= " + std::to_string(x.sizes.size()) +
                      "  Subdirs= " + std::to_string(x.folders) + " "));
  const int64_t pagefile = v.Find("pagefile.sys")->size;
  EXPECT_TRUE(HasLine("Bytes=" + Format(static_cast<double>(x.bytes - pagefile), "#,###") +
                      Lines()[2].substr(Lines()[2].find("   MB/Sec="))));
  EXPECT_EQ(std::count(tools.sizes.begin(), tools.sizes.end(), 0),
            std::count(x.sizes.begin(), x.sizes.end(), 0) + 1);
  // Checksum gives it -1.
  ASSERT_TRUE(Timing_Checksum(tools));
  EXPECT_EQ(ParseSums(SumFile()).byPath.at("c:\\pagefile.sys"), -1);

  // LAST.BIN's chain cut after its first cluster: it opens but cannot be
  // read to its end.
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const std::vector<uint32_t> chain = v.ShowFat("LAST.BIN");
  ASSERT_GT(chain.size(), 1u);
  testsupport::PatchFatEntry(image, chain[0], 0xFFFF);
  testsupport::WriteImageFile(v.Path(), image);
  EXPECT_FALSE(TimingD(tools));
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Errors: c:\\LAST.BIN"), 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("Files=", 0) == 0; }),
            0);
  EXPECT_EQ(tools.calls.back(), "SetUnBusy");
  // Validate sees its checksum change to -1.
  const ValidateResult r = Timing_Validate(tools);
  EXPECT_EQ(r.differences, 1);
  EXPECT_EQ(main.Items(Control::lstValErrs).back(), "c:\\LAST.BIN");
  EXPECT_EQ(ParseSums(SumFile()).byPath.at("c:\\LAST.BIN"), -1);
}

TEST_F(ScanFiles, EscStopsEveryToolWithItsMessage) {
  FatVolume v = testsupport::MakeFat16Fixture("tools-esc");
  testsupport::RemoveOnExit cleanup{v.Path()};
  MapDrive(v.Path());
  int n = 0;
  main.onDoEvents = [&n] {
    if (++n == 10) ErrorState.Failed = kTrue;
  };

  // Scan Files: the message first, then the summary of what was read.
  EXPECT_FALSE(TimingD(tools));
  std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Escape termination.");
  EXPECT_EQ(lines[1], "Drive=c: [VODURU]");
  EXPECT_LT(tools.sizes.size(), Contents(v).sizes.size());

  // Checksum: the summary, the message, no file.
  n = 0;
  EXPECT_FALSE(Timing_Checksum(tools));
  lines = Lines();
  EXPECT_EQ(lines.back(), "Escape termination.");
  EXPECT_EQ(lines.front(), "Checksum c:");
  EXPECT_EQ(SumFile(), "");

  // Validate: file and log untouched.
  main.onDoEvents = nullptr;
  ASSERT_TRUE(Timing_Checksum(tools));
  const std::string sums = SumFile();
  v.Write("DOCS/REPORT.TXT", 3000, 77);
  n = 0;
  main.onDoEvents = [&n] {
    if (++n == 30) ErrorState.Failed = kTrue;
  };
  const ValidateResult r = Timing_Validate(tools);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(Lines().back(), "Escape termination.");
  EXPECT_EQ(SumFile(), sums);
  EXPECT_EQ(CheckLog(), "");
  EXPECT_EQ(tools.calls.back(), "SetUnBusy");
}

// GAMES\LEVELS\BONUS made to lead back to GAMES: the walk sees a folder,
// its listing is refused, and both walks end with the error in red instead
// of walking the loop or reading the folder as a file.
TEST_F(ScanFiles, FolderLeadingBackToItsAncestorEndsInAnError) {
  FatVolume v = testsupport::MakeFat16Fixture("tools-loop");
  testsupport::RemoveOnExit cleanup{v.Path()};
  const uint32_t games = v.ShowFat("GAMES").at(0);
  const uint32_t levels = v.ShowFat("GAMES/LEVELS").at(0);
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const testsupport::PlainFatLayout l = testsupport::ParseFatLayout(image);
  const size_t at = (l.firstDataSector + (levels - 2) * l.sectorsPerCluster) * l.bytesPerSector;
  bool patched = false;
  for (size_t e = at; e < at + l.sectorsPerCluster * l.bytesPerSector; e += 32) {
    if (std::memcmp(&image[e], "BONUS      ", 11) != 0) continue;
    image[e + 26] = static_cast<uint8_t>(games);
    image[e + 27] = static_cast<uint8_t>(games >> 8);
    patched = true;
  }
  ASSERT_TRUE(patched);
  testsupport::WriteImageFile(v.Path(), image);
  MapDrive(v.Path());

  EXPECT_FALSE(TimingD(tools));
  EXPECT_EQ(Lines().back(), "Device I/O error");
  EXPECT_EQ(LineColour("Device I/O error"), kLightRed);
  EXPECT_FALSE(HasLine("Drive=c: [VODURU]"));
  EXPECT_FALSE(Timing_Checksum(tools));
  EXPECT_EQ(Lines(), std::vector<std::string>{"Device I/O error"});
  EXPECT_EQ(SumFile(), "");
  EXPECT_EQ(tools.calls.back(), "SetUnBusy");
}

TEST_F(ScanFiles, EmptyDriveReportsTheRootAlone) {
  const std::string image = testsupport::TempPath("empty-scan.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1440, 12, "", "EMPTY", error)) << error;
  MapDrive(image);
  ASSERT_TRUE(TimingD(tools));
  EXPECT_TRUE(HasLine("Files= 0  Subdirs= 1 "));
  EXPECT_TRUE(HasLine("Bytes=   MB/Sec=0.00"));
}

TEST_F(ScanFiles, DriveThatCannotBeListedEndsWithItsError) {
  MapDrive(home + "/no-such.img");
  EXPECT_FALSE(TimingD(tools));
  EXPECT_EQ(Lines().back(), "Path not found");
  EXPECT_EQ(LineColour("Path not found"), kLightRed);
  EXPECT_FALSE(Timing_Checksum(tools));
  EXPECT_EQ(Lines(), std::vector<std::string>{"Drive error"});
  EXPECT_EQ(LineColour("Drive error"), kLightRed);
  EXPECT_EQ(SumFile(), "");
}

}  // namespace
}  // namespace vr::test
