// The entry width follows the FAT format's cluster-count rule, shown on
// real volumes at the edges: 4080, 4081 and 4084 clusters are FAT12 (the
// last three not optimisable), 4085 clusters is FAT16.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fat/fat_test_session.h"
#include "support/fat_fixtures.h"

namespace vr {
namespace {

using testsupport::FatFormat;
using testsupport::FatVolume;

// A FAT12 volume with one-sector clusters, one reserved sector and a root
// directory of 512 entries (32 sectors); `sectors` decides the cluster count.
FatVolume Fat12Of(const std::string& name, uint32_t sectors) {
  FatFormat f;
  f.fatBits = 12;
  f.sectors = sectors;
  f.sectorsPerCluster = 1;
  f.rootEntries = 512;
  return FatVolume(testsupport::FatImagePath(name), f);
}

TEST(FatWidthRule, FourThousandEightyFourClustersAreTwelveBitAndNotOptimisable) {
  FatVolume v = Fat12Of("w4084", 4141);
  testsupport::RemoveOnExit cleanup{v.Path()};
  ASSERT_EQ(testsupport::ParseFatLayout(testsupport::ReadImageFile(v.Path())).clusters, 4084u);
  // One file over the whole data area: its chain passes clusters 0xFF0 ..
  // 0xFF5, whose numbers equal the old reserved values.
  v.Write("ALL.BIN", 4084 * 512, 77);
  const std::vector<uint32_t> expected = v.ShowFat("ALL.BIN");
  ASSERT_EQ(expected.size(), 4084u);

  FatImageSession session(testsupport::ReadImageFile(v.Path()));
  ASSERT_TRUE(Load_FAT()) << ErrorState.ErrorText;
  EXPECT_EQ(FatLayout.EntryBits, 12);
  EXPECT_EQ(FatLayout.DataClusters, 4084);
  EXPECT_EQ(FatLayout.NotOptimisable, -1);
  EXPECT_EQ(MaxCluster, 4085);
  EXPECT_EQ(FatTable(0xFEF), 0x0FF0);       // a cluster number, not a mark
  EXPECT_EQ(FatTable(MaxCluster), 0xFFFF);  // last cluster (odd) unpacked and widened

  Long total = 0;
  int64_t segments = 0;
  EXPECT_EQ(ChainClusters(2, &total, &segments), expected);
  EXPECT_EQ(total, 4084);
  EXPECT_EQ(segments, 1);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST(FatWidthRule, FourThousandEightyOneClustersAreNotOptimisable) {
  FatVolume v = Fat12Of("w4081", 4138);
  testsupport::RemoveOnExit cleanup{v.Path()};
  ASSERT_EQ(testsupport::ParseFatLayout(testsupport::ReadImageFile(v.Path())).clusters, 4081u);
  FatImageSession session(testsupport::ReadImageFile(v.Path()));
  ASSERT_TRUE(Load_FAT());
  EXPECT_EQ(FatLayout.EntryBits, 12);
  EXPECT_EQ(FatLayout.NotOptimisable, -1);
}

TEST(FatWidthRule, FourThousandEightyClustersAreTwelveBitAndOptimisable) {
  FatVolume v = Fat12Of("w4080", 4137);
  testsupport::RemoveOnExit cleanup{v.Path()};
  ASSERT_EQ(testsupport::ParseFatLayout(testsupport::ReadImageFile(v.Path())).clusters, 4080u);
  v.Write("ALL.BIN", 4080 * 512, 78);
  FatImageSession session(testsupport::ReadImageFile(v.Path()));
  ASSERT_TRUE(Load_FAT());
  EXPECT_EQ(FatLayout.EntryBits, 12);
  EXPECT_EQ(FatLayout.NotOptimisable, 0);
  EXPECT_EQ(ChainClusters(2), v.ShowFat("ALL.BIN"));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST(FatWidthRule, FourThousandEightyFiveClustersAreSixteenBit) {
  // mkfs.fat makes FAT16 from 4087 clusters on; the boot sector's sector
  // count is cut by two sectors to leave exactly 4085.
  FatFormat f;
  f.fatBits = 16;
  f.sectors = 4152;
  f.sectorsPerCluster = 1;
  FatVolume v(testsupport::FatImagePath("w4085"), f);
  testsupport::RemoveOnExit cleanup{v.Path()};
  v.WriteFragmented("SPLIT.BIN", 20, 5, 3, "W");
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  image[0x13] = static_cast<uint8_t>(4150 & 0xFF);
  image[0x14] = static_cast<uint8_t>(4150 >> 8);
  const auto layout = testsupport::ParseFatLayout(image);
  ASSERT_EQ(layout.clusters, 4085u);
  ASSERT_EQ(layout.bits, 16);

  FatImageSession session(image);
  ASSERT_TRUE(Load_FAT()) << ErrorState.ErrorText;
  EXPECT_EQ(FatLayout.EntryBits, 16);
  EXPECT_EQ(FatLayout.NotOptimisable, 0);
  EXPECT_EQ(MaxCluster, 4086);
  const std::vector<uint32_t> shown = v.ShowFat("SPLIT.BIN");
  EXPECT_EQ(ChainClusters(shown.front()), testsupport::PlainChain(image, shown.front()));
  EXPECT_EQ(ChainClusters(shown.front()), shown);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST(FatWidthRule, TwelveBitEndAndBadMarksAreWidened) {
  FatVolume v = Fat12Of("w4000", 4057);
  testsupport::RemoveOnExit cleanup{v.Path()};
  std::vector<uint8_t> probe = testsupport::ReadImageFile(v.Path());
  ASSERT_EQ(testsupport::ParseFatLayout(probe).clusters, 4000u);
  v.Write("A.BIN", 3 * 512, 1);
  v.Write("B.BIN", 5 * 512, 2);
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const std::vector<uint32_t> a = v.ShowFat("A.BIN");
  const std::vector<uint32_t> b = v.ShowFat("B.BIN");
  ASSERT_EQ(a.size(), 3u);
  ASSERT_EQ(b.size(), 5u);
  testsupport::PatchFatEntry(image, a.back(), 0xFF8);  // mtools writes 0xFFF
  testsupport::PatchFatEntry(image, b[1], 0xFF7);      // bad mark inside B's chain

  FatImageSession session(image);
  ASSERT_TRUE(Load_FAT());
  EXPECT_EQ(FatTable(a.back()), 0xFFF8);
  EXPECT_EQ(FatTable(b[1]), 0xFFF7);
  EXPECT_EQ(FatTable(b.back()), 0xFFFF);
  EXPECT_EQ(FatTable(0), 0xFFF8);  // media byte F8
  EXPECT_EQ(ChainClusters(a.front()), a);
  EXPECT_EQ(ChainClusters(b.front()), (std::vector<uint32_t>{b[0], b[1]}));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

}  // namespace
}  // namespace vr
