// The NTFS fixture generator: deterministic content, the options, and the
// structures it promises (checked by its own verification and here).
#include <gtest/gtest.h>

#include "runtime/bytes.h"
#include "support/ntfs_fixtures.h"
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

}  // namespace
