// The allocation table read from real FAT12 and FAT16 volumes made by
// mkfs.fat and filled by mtools: every chain equals what mshowfat reports,
// fragmented files and folders are counted right, and the table comes from
// after the reserved sectors whatever their count.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fat/fat_test_session.h"
#include "support/fat_fixtures.h"

namespace vr {
namespace {

using testsupport::FatVolume;

// Files and folders still on the volume that own clusters.
std::vector<const testsupport::FixtureEntry*> LiveEntries(const FatVolume& v) {
  std::vector<const testsupport::FixtureEntry*> live;
  for (const auto& e : v.Entries())
    if (!e.erased && (e.folder || e.size > 0)) live.push_back(&e);
  return live;
}

// Loads the volume and compares the chain of every live entry with
// mshowfat's clusters and with the file's size.
void ExpectChainsEqualMshowfat(const FatVolume& v) {
  FatImageSession session(testsupport::ReadImageFile(v.Path()));
  ASSERT_TRUE(session.Opened());
  ASSERT_TRUE(Load_FAT()) << ErrorState.ErrorText;
  const uint32_t clusterBytes = v.ClusterBytes();
  const auto live = LiveEntries(v);
  ASSERT_GE(live.size(), 10u);
  for (const auto* e : live) {
    const std::vector<uint32_t> expected = v.ShowFat(e->path);
    ASSERT_FALSE(expected.empty()) << e->path;
    Long total = 0;
    int64_t segments = 0;
    EXPECT_EQ(ChainClusters(expected.front(), &total, &segments), expected) << e->path;
    EXPECT_EQ(segments, static_cast<int64_t>(testsupport::Runs(expected).size())) << e->path;
    if (!e->folder) {
      EXPECT_EQ(total, (e->size + clusterBytes - 1) / clusterBytes) << e->path;
    }
  }
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
}

class FatStandardVolumes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fat12_ = new FatVolume(testsupport::MakeFat12Fixture("chains12"));
    fat16_ = new FatVolume(testsupport::MakeFat16Fixture("chains16"));
  }
  static void TearDownTestSuite() {
    std::remove(fat12_->Path().c_str());
    std::remove(fat16_->Path().c_str());
    delete fat12_;
    delete fat16_;
  }
  static FatVolume* fat12_;
  static FatVolume* fat16_;
};
FatVolume* FatStandardVolumes::fat12_ = nullptr;
FatVolume* FatStandardVolumes::fat16_ = nullptr;

TEST_F(FatStandardVolumes, Fat12ChainsEqualMshowfat) {
  ExpectChainsEqualMshowfat(*fat12_);
  EXPECT_EQ(FatLayout.EntryBits, 12);
  EXPECT_EQ(FatLayout.NotOptimisable, 0);
}

TEST_F(FatStandardVolumes, Fat16ChainsEqualMshowfat) {
  ExpectChainsEqualMshowfat(*fat16_);
  EXPECT_EQ(FatLayout.EntryBits, 16);
  EXPECT_EQ(FatLayout.NotOptimisable, 0);
}

TEST_F(FatStandardVolumes, TheTableHoldsTheFirstFatEntryForEntry) {
  for (const FatVolume* v : {fat12_, fat16_}) {
    const std::vector<uint8_t> image = testsupport::ReadImageFile(v->Path());
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT());
    const auto layout = testsupport::ParseFatLayout(image);
    EXPECT_EQ(MaxCluster, static_cast<int32_t>(layout.clusters + 1));
    for (uint32_t c = 2; c <= layout.clusters + 1; ++c) {
      uint32_t raw = testsupport::PlainFatEntry(image, c);
      if (layout.bits == 12 && raw >= 0xFF8) raw |= 0xF000;
      ASSERT_EQ(FatTable(c), raw) << v->Path() << " cluster " << c;
    }
  }
}

TEST_F(FatStandardVolumes, FragmentedFilesAndFoldersAreCountedRight) {
  for (const FatVolume* v : {fat12_, fat16_}) {
    FatImageSession session(testsupport::ReadImageFile(v->Path()));
    ASSERT_TRUE(Load_FAT());
    const std::vector<uint32_t> frag = v->ShowFat("FRAG.BIN");
    int64_t segments = 0;
    Long total = 0;
    ChainClusters(frag.front(), &total, &segments);
    // Five one-cluster gaps and the rest behind them.
    EXPECT_EQ(segments, 6) << v->Path();
    EXPECT_EQ(total, static_cast<int32_t>(frag.size()));
    const std::vector<uint32_t> many = v->ShowFat("MANY");
    ChainClusters(many.front(), &total, &segments);
    EXPECT_GT(segments, 1) << "MANY grew behind other files";
    EXPECT_EQ(segments, static_cast<int64_t>(testsupport::Runs(many).size()));
    EXPECT_EQ(ErrorState.ErrorCount, 0);
  }
}

TEST_F(FatStandardVolumes, PackingTheTableGivesTheFatBytesBack) {
  for (const FatVolume* v : {fat12_, fat16_}) {
    const std::vector<uint8_t> image = testsupport::ReadImageFile(v->Path());
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT());
    const std::vector<uint8_t> before(FatBytes.data(), FatBytes.data() + FatBytes.size());
    Pack_FAT();
    EXPECT_TRUE(std::equal(before.begin(), before.end(), FatBytes.data())) << v->Path();

    // A changed end mark goes back in the volume's width.
    const std::vector<uint32_t> file = v->ShowFat("DOCS/REPORT.TXT");
    FatTable(file.front()) = 0xFFF8;
    FatTable(MaxCluster) = 0x0123;
    Pack_FAT();
    std::vector<uint8_t> changed = image;
    const auto layout = testsupport::ParseFatLayout(image);
    std::copy(FatBytes.data(), FatBytes.data() + FatBytes.size(),
              changed.begin() + static_cast<long>(layout.reservedSectors) * 512);
    EXPECT_EQ(testsupport::PlainFatEntry(changed, file.front()),
              layout.bits == 12 ? 0xFF8u : 0xFFF8u);
    EXPECT_EQ(testsupport::PlainFatEntry(changed, MaxCluster), 0x123u);
    EXPECT_EQ(testsupport::PlainFatEntry(changed, MaxCluster - 1),
              testsupport::PlainFatEntry(image, MaxCluster - 1));
    EXPECT_EQ(testsupport::PlainFatEntry(changed, 0), testsupport::PlainFatEntry(image, 0));
  }
}

TEST(FatReservedSectors, DefaultReservedCountIsHonoured) {
  const FatVolume v = testsupport::MakeFat16DefaultReservedFixture("reserved16");
  const testsupport::RemoveOnExit cleanup{v.Path()};
  const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const auto layout = testsupport::ParseFatLayout(image);
  ASSERT_GT(layout.reservedSectors, 1u) << "mkfs.fat's default layout has more reserved sectors";
  {
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT()) << ErrorState.ErrorText;
    EXPECT_EQ(FatLayout.FirstFatSector, static_cast<int32_t>(layout.reservedSectors));
    EXPECT_EQ(FatLayout.RootDirSector, static_cast<int32_t>(layout.rootDirSector));
    EXPECT_EQ(FatLayout.FirstDataSector, static_cast<int32_t>(layout.firstDataSector));
    EXPECT_EQ(FatLayout.EntryBits, 16);
    for (uint32_t c = 0; c <= layout.clusters + 1; ++c)
      ASSERT_EQ(FatTable(c), testsupport::PlainFatEntry(image, c)) << c;
  }
  ExpectChainsEqualMshowfat(v);
}

}  // namespace
}  // namespace vr
