// The NTFS fixture generator: deterministic content, the options, and the
// structures it promises (checked by its own verification and here).
#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/bytes.h"
#include "support/ntfs_audit.h"
#include "support/ntfs_fixtures.h"
#include "support/ntfs_workload.h"
#include "support/volume_images.h"

namespace {

using testsupport::NtfsFixture;
using testsupport::NtfsFixtureEntry;
using testsupport::NtfsFixtureOptions;

TEST(NtfsFixtureTest, TwoBuildsHoldTheSameFiles) {
  const NtfsFixture& first = testsupport::SharedNtfsFixture();
  NtfsFixture second;
  std::string error;
  ASSERT_TRUE(testsupport::BuildNtfsFixture(testsupport::TempPath("second.img"),
                                            NtfsFixtureOptions{}, second, error))
      << error;
  EXPECT_EQ(first.Manifest(), second.Manifest());
  int compared = 0;
  for (const NtfsFixtureEntry& e : second.Entries()) {
    if (e.flags & testsupport::kNtfsFolder) continue;
    std::vector<uint8_t> a, b;
    ASSERT_TRUE(testsupport::LibntfsRead(first.Path(), e.path, a, error, e.stream)) << error;
    ASSERT_TRUE(testsupport::LibntfsRead(second.Path(), e.path, b, error, e.stream)) << error;
    EXPECT_TRUE(a == b) << e.path;
    EXPECT_TRUE(b == testsupport::ExpectedContent(e)) << e.path << ":" << e.stream;
    ++compared;
  }
  EXPECT_GT(compared, 600);
}

TEST(NtfsFixtureTest, TheManifestNamesEveryPromisedKindOfFile) {
  const NtfsFixture& fx = testsupport::SharedNtfsFixture();
  uint32_t all = 0;
  for (const NtfsFixtureEntry& e : fx.Entries()) all |= e.flags;
  for (uint32_t flag :
       {testsupport::kNtfsFolder, testsupport::kNtfsFragmented, testsupport::kNtfsAttributeList,
        testsupport::kNtfsSparse, testsupport::kNtfsCompressed, testsupport::kNtfsHardLink,
        testsupport::kNtfsNamedStream, testsupport::kNtfsLargeIndex})
    EXPECT_TRUE(all & flag) << "flag " << flag;
  EXPECT_NE(fx.Manifest().find("frag,alist"), std::string::npos);
  EXPECT_NE(fx.Manifest().find("streams\\with stream.txt:extra"), std::string::npos);
  // The fragmented files really are, run by run.
  std::vector<testsupport::LibntfsRun> runs;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(fx.Path(), "frag\\many.bin", runs, error)) << error;
  EXPECT_GT(runs.size(), 512u) << "more extents than one retrieval request returns";
}

TEST(NtfsFixtureTest, LargeClustersLeaveCompressionOut) {
  NtfsFixtureOptions options;
  options.clusterSize = 8192;
  options.sizeMb = 96;
  NtfsFixture fx;
  std::string error;
  const std::string path = testsupport::TempPath("large-clusters.img");
  ASSERT_TRUE(testsupport::BuildNtfsFixture(path, options, fx, error)) << error;
  EXPECT_FALSE(fx.HasCompressed());
  const std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  EXPECT_EQ(vr::U16(image, 0x0B) * vr::U8(image, 0x0D), 8192);
  std::vector<uint8_t> data;
  const NtfsFixtureEntry* frag = fx.Find("frag\\alpha.bin");
  ASSERT_NE(frag, nullptr);
  ASSERT_TRUE(testsupport::LibntfsRead(path, frag->path, data, error)) << error;
  EXPECT_EQ(data, testsupport::ExpectedContent(*frag));
}

TEST(NtfsFixtureTest, LargeModeAddsManySmallFiles) {
  NtfsFixtureOptions options;
  options.large = true;
  options.largeFiles = 2500;
  NtfsFixture fx;
  std::string error;
  const std::string path = testsupport::TempPath("large.img");
  ASSERT_TRUE(testsupport::BuildNtfsFixture(path, options, fx, error)) << error;
  std::vector<std::string> names;
  ASSERT_TRUE(testsupport::LibntfsList(path, "large\\d002", names, error)) << error;
  EXPECT_EQ(names.size(), 500u) << "2500 files in folders of 1000";
  std::vector<uint8_t> mft;
  ASSERT_TRUE(testsupport::LibntfsRead(path, "$MFT", mft, error)) << error;
  EXPECT_GE(mft.size() / 1024, 2500u + 600u);
}

// Built from the start of the data zone, a volume holds its folders' index
// blocks among the data and nothing the builder wrote splits the free space
// above it: only the reserved area in the middle of the volume ($MFTMirr and
// $LogFile) lies above the data. Left to libntfs-3g's own placement, new
// index blocks and files land 4,096 clusters apart across the upper half.
TEST(NtfsFixtureTest, FillingFromTheStartKeepsIndexBlocksAmongTheData) {
  NtfsFixtureOptions options;
  // libntfs-3g takes the largest free run in the 32,768 clusters from where
  // it starts to look: from 342 MB on, that window ends below the middle.
  options.sizeMb = 384;
  options.large = true;
  options.largeFiles = 3000;
  options.largeFilesPerFolder = 250;
  options.largeFileStep = 2500;  // up to 10,000 bytes: most files take clusters
  options.fillFromStart = true;
  NtfsFixture fx;
  std::string error;
  const std::string path = testsupport::TempPath("from-start.img");
  ASSERT_TRUE(testsupport::BuildNtfsFixture(path, options, fx, error)) << error;
  testsupport::FragmentedSet set;
  set.files = 120;
  set.chunks = 4;
  set.fillFromStart = true;
  ASSERT_TRUE(testsupport::AddFragmentedFiles(path, set, error)) << error;

  testsupport::VolumeAudit audit;
  ASSERT_TRUE(testsupport::AuditNtfsVolume(path, audit, error)) << error;
  int64_t dataEnd = 0;
  int withClusters = 0, pieceFiles = 0, pieceFilesFragmented = 0;
  for (const auto& [name, s] : audit.streams) {
    for (const testsupport::LibntfsRun& r : s.runs)
      if (r.lcn >= 0) dataEnd = std::max(dataEnd, r.lcn + r.length);
    if (name.rfind("large\\", 0) == 0 && !s.folder && !s.runs.empty()) ++withClusters;
    if (name.rfind("work\\", 0) == 0) {
      ++pieceFiles;
      pieceFilesFragmented += testsupport::Contiguous(s.runs) ? 0 : 1;
    }
  }
  EXPECT_GT(withClusters, 2000) << "four files in five hold 2,500 bytes or more";
  EXPECT_EQ(pieceFiles, 80) << "120 written in turns, every third deleted";
  EXPECT_EQ(pieceFilesFragmented, pieceFiles) << "each file written in turns lies in pieces";
  const NtfsFixtureEntry* sample = fx.Find("large\\d011\\file 002754.txt");
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->size, 4u * 2500u);
  std::vector<uint8_t> data;
  ASSERT_TRUE(testsupport::LibntfsRead(path, sample->path, data, error)) << error;
  EXPECT_EQ(data, testsupport::ExpectedContent(*sample));

  std::vector<std::string> folders = {"work"};
  for (const NtfsFixtureEntry& e : fx.Entries())
    if (e.flags & testsupport::kNtfsFolder) folders.push_back(e.path);
  int indexed = 0;
  for (const std::string& folder : folders) {
    std::vector<testsupport::LibntfsRun> runs;
    ASSERT_TRUE(testsupport::LibntfsIndexRunlist(path, folder, runs, error)) << error;
    indexed += runs.empty() ? 0 : 1;
    for (const testsupport::LibntfsRun& r : runs)
      EXPECT_LE(r.lcn + r.length, dataEnd) << folder << " has an index block above the data";
  }
  EXPECT_GE(indexed, 14) << "many, large, its 12 folders and work need index blocks";

  std::vector<testsupport::LibntfsRun> mirr, log;
  ASSERT_TRUE(testsupport::LibntfsRunlist(path, "$MFTMirr", mirr, error)) << error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(path, "$LogFile", log, error)) << error;
  ASSERT_FALSE(mirr.empty() || log.empty());
  const auto reserved = [&](int64_t c) {
    for (const auto* runs : {&mirr, &log})
      for (const testsupport::LibntfsRun& r : *runs)
        if (c >= r.lcn && c < r.lcn + r.length) return true;
    return false;
  };
  ASSERT_LT(dataEnd, std::min(mirr.front().lcn, log.front().lcn))
      << "the volume is sized for the data to end below the middle";
  int64_t usedAbove = 0;
  for (int64_t c = dataEnd; c < audit.totalClusters; ++c)
    if (testsupport::ClusterUsed(audit, c) && !reserved(c)) ++usedAbove;
  EXPECT_EQ(usedAbove, 0) << "in use above the data: only $MFTMirr and $LogFile";
}

}  // namespace
