// The FAT scan's summary on real volumes made by mkfs.fat and mtools: every
// count it prints agrees with the fixture's own manifest, fsck.fat and a
// plain reader of the FAT and its directories.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "fat/fat_scan_harness.h"

namespace vr::fat::test {
namespace {

using testsupport::FatVolume;

// fsck.fat's "N files, used/total clusters" (its file count includes
// folders).
struct FsckCounts {
  uint32_t files = 0, used = 0, total = 0;
};

FsckCounts Fsck(const std::string& path) {
  std::string out;
  const int status = testsupport::RunFatTool("fsck.fat -n -v '" + path + "'", &out);
  EXPECT_EQ(status, 0) << out;
  std::smatch m;
  FsckCounts c;
  if (std::regex_search(out, m, std::regex(R"((\d+) files, (\d+)/(\d+) clusters)"))) {
    c.files = static_cast<uint32_t>(std::stoul(m[1]));
    c.used = static_cast<uint32_t>(std::stoul(m[2]));
    c.total = static_cast<uint32_t>(std::stoul(m[3]));
  } else {
    ADD_FAILURE() << "no summary in fsck.fat output:\n" << out;
  }
  return c;
}

struct Manifest {
  int files = 0, folders = 0, empty = 0;
};

Manifest Live(const FatVolume& v) {
  Manifest m;
  for (const auto& e : v.Entries()) {
    if (e.erased) continue;
    if (e.folder)
      ++m.folders;
    else
      ++m.files;
    if (!e.folder && e.size == 0) ++m.empty;
  }
  return m;
}

class FatScanCounts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    volumes_ = new std::vector<FatVolume>;
    volumes_->push_back(testsupport::MakeFat12Fixture("scan12"));
    volumes_->push_back(testsupport::MakeFat16Fixture("scan16"));
    volumes_->push_back(testsupport::MakeFat16DefaultReservedFixture("scan16r"));
  }
  static void TearDownTestSuite() {
    for (const FatVolume& v : *volumes_) std::remove(v.Path().c_str());
    delete volumes_;
  }
  static std::vector<FatVolume>* volumes_;
};
std::vector<FatVolume>* FatScanCounts::volumes_ = nullptr;

TEST_F(FatScanCounts, CheckedViewCountsAgreeWithManifestFsckAndPlainReader) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const Manifest m = Live(v);
    const FsckCounts fsck = Fsck(v.Path());
    const PlainTree tree = ReadPlainTree(image);
    const PlainChains chains = CountPlainChains(image);
    // fsck.fat counts the volume label with the files.
    ASSERT_EQ(static_cast<uint32_t>(m.files + m.folders) + tree.labels, fsck.files);
    ASSERT_EQ(tree.entries.size(), static_cast<size_t>(m.files + m.folders));

    const ScanResult r = RunScan(image);
    EXPECT_TRUE(r.Has("Checking disk structure . ."));
    EXPECT_TRUE(
        r.Has("User files=" + std::to_string(m.files) + ",  Folders=" + std::to_string(m.folders)));
    EXPECT_TRUE(r.Has("Fragmented files=" + std::to_string(chains.fragmented)));
    EXPECT_GE(chains.fragmented, 1u);
    if (m.empty != 0)
      EXPECT_TRUE(r.Has("Empty files=" + std::to_string(m.empty)));
    else
      EXPECT_EQ(r.Starting("Empty files="), "");
    EXPECT_TRUE(r.Has("Erased files=" + std::to_string(tree.erased)));
    EXPECT_GE(tree.erased, 3u);  // the fixtures erase files, a long name among them
    EXPECT_EQ(r.Starting("Files+Dirs="), "");

    // Free space: fsck's free clusters, split at BigFileClusters.
    ASSERT_EQ(chains.freeClusters, fsck.total - fsck.used);
    const uint32_t spc = testsupport::ParseFatLayout(image).sectorsPerCluster;
    uint32_t large = 0;
    for (const auto& run : chains.freeRuns)
      if (run.second >= 1024 / spc) large += run.second;
    EXPECT_TRUE(r.Has("Small free Space=" +
                      SizeText(static_cast<int32_t>((chains.freeClusters - large) * spc))));
    EXPECT_TRUE(r.Has("Large free space=" + SizeText(static_cast<int32_t>(large * spc))));
    EXPECT_EQ(Allocation.FreeCount, static_cast<int32_t>(chains.freeRuns.size()));
    EXPECT_EQ(Allocation.FreeCursor, 1);

    EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
    EXPECT_EQ(ErrorState.Failed, 0);
    EXPECT_EQ(r.closings, 1);
    EXPECT_EQ(r.listFills, 1);
  }
}

TEST_F(FatScanCounts, FastViewCountsChainHeads) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const PlainChains chains = CountPlainChains(image);
    const Manifest m = Live(v);
    ScanOptions fast;
    fast.checked = 0;
    const ScanResult r = RunScan(image, fast);
    EXPECT_FALSE(r.Has("Checking disk structure . ."));
    EXPECT_EQ(r.Starting("User files="), "");
    EXPECT_TRUE(r.Has("File/Folder chains=" + std::to_string(chains.heads)));
    EXPECT_TRUE(r.Has("Fragmented chains=" + std::to_string(chains.fragmented)));
    // Every chain belongs to a folder or a file that is not empty.
    EXPECT_EQ(chains.heads, static_cast<uint32_t>(m.files + m.folders - m.empty));
    // An empty line comes before the chain lines.
    const auto at = std::find(r.lines.begin(), r.lines.end(),
                              "File/Folder chains=" + std::to_string(chains.heads));
    ASSERT_NE(at, r.lines.begin());
    EXPECT_EQ(*(at - 1), "");
    EXPECT_EQ(r.closings, 1);
  }
}

TEST_F(FatScanCounts, StatusLinesAndLegendOfEachView) {
  const std::vector<uint8_t> image = testsupport::ReadImageFile((*volumes_)[0].Path());
  const ScanResult checked = RunScan(image);
  EXPECT_EQ(checked.labels.at(kFatStatusLine1), "Checking:");
  EXPECT_EQ(checked.labels.at(kFatStatusLine2), "Dir / File:");
  EXPECT_EQ(checked.legend, (std::vector<std::string>{"Sys", "File", "BigFile", "Frag", "Empty"}));
  ScanOptions fast;
  fast.checked = 0;
  const ScanResult r = RunScan(image, fast);
  EXPECT_EQ(r.legend, (std::vector<std::string>{"File", "BigFile", "Frag", "Empty"}));
  EXPECT_EQ(r.values.at(kFatStatusLine1), "Subdirs");
}

}  // namespace
}  // namespace vr::fat::test
