// The fixture volumes themselves: valid for fsck.fat, content as written,
// the features the FAT tests rely on really present, and the same bytes on
// every build.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fat_fixtures.h"

namespace {

using testsupport::FatVolume;

// Root-directory entries (32 bytes each) of an image, read with plain code.
std::vector<std::vector<uint8_t>> RootEntries(const std::vector<uint8_t>& image) {
  const auto l = testsupport::ParseFatLayout(image);
  std::vector<std::vector<uint8_t>> entries;
  for (uint32_t k = 0; k < l.rootEntries; ++k) {
    const size_t at = static_cast<size_t>(l.rootDirSector) * 512 + k * 32;
    if (image.at(at) == 0) break;
    entries.emplace_back(image.begin() + static_cast<long>(at),
                         image.begin() + static_cast<long>(at) + 32);
  }
  return entries;
}

// The attribute byte of the root entry with 8.3 name `name83` (11 chars), or
// -1 when there is none.
int AttributeOf(const std::vector<uint8_t>& image, const std::string& name83) {
  for (const auto& e : RootEntries(image))
    if (std::string(e.begin(), e.begin() + 11) == name83) return e[11];
  return -1;
}

class FatFixtures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    volumes_ = new std::vector<FatVolume>{testsupport::MakeFat12Fixture("fx12"),
                                          testsupport::MakeFat16Fixture("fx16"),
                                          testsupport::MakeFat16DefaultReservedFixture("fxres")};
  }
  static void TearDownTestSuite() {
    for (const auto& v : *volumes_) std::remove(v.Path().c_str());
    delete volumes_;
  }
  static std::vector<FatVolume>* volumes_;
};
std::vector<FatVolume>* FatFixtures::volumes_ = nullptr;

TEST_F(FatFixtures, VolumesPassFsckAndReadBackAsWritten) {
  ASSERT_FALSE(testsupport::FatFixtureFailed());
  for (const auto& v : *volumes_) {
    std::string output;
    EXPECT_EQ(testsupport::RunFatTool("fsck.fat -n '" + v.Path() + "'", &output), 0) << output;
    for (const auto& e : v.Entries()) {
      if (e.erased || e.folder) continue;
      EXPECT_EQ(v.Read(e.path), testsupport::PatternBytes(e.size, e.seed)) << e.path;
    }
  }
}

TEST_F(FatFixtures, StandardVolumesHoldEveryFeatureTheTestsNeed) {
  for (size_t k = 0; k < 2; ++k) {
    const FatVolume& v = (*volumes_)[k];
    const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    EXPECT_EQ(AttributeOf(image, "IO      SYS") & 0x04, 0x04) << "system file";
    EXPECT_EQ(AttributeOf(image, "HIDDEN  DAT") & 0x02, 0x02) << "hidden file";
    EXPECT_NE(AttributeOf(image, "PAGEFILESYS"), -1) << "pagefile.sys";
    EXPECT_EQ(AttributeOf(image, "EMPTY   TXT") & 0x10, 0);
    int erased = 0, erasedLongName = 0, longName = 0;
    for (const auto& e : RootEntries(image)) {
      if (e[0] == 0xE5) ++erased;
      if (e[11] == 0x0F) ++(e[0] == 0xE5 ? erasedLongName : longName);
    }
    EXPECT_GE(erased, 4) << "erased entries (TEMP1.TMP, an erased long name)";
    EXPECT_GE(erasedLongName, 1) << "erased long-name entries";
    EXPECT_GE(longName, 1) << "long-name entries";
    EXPECT_GT(testsupport::Runs(v.ShowFat("FRAG.BIN")).size(), 1u);
    EXPECT_GT(testsupport::Runs(v.ShowFat("MANY")).size(), 1u);
    EXPECT_EQ(v.ShowFat("EMPTY.TXT"), std::vector<uint32_t>{});
  }
}

TEST_F(FatFixtures, PlainChainsAgreeWithMshowfat) {
  for (const auto& v : *volumes_) {
    const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    for (const auto& e : v.Entries()) {
      if (e.erased || (!e.folder && e.size == 0)) continue;
      const std::vector<uint32_t> shown = v.ShowFat(e.path);
      ASSERT_FALSE(shown.empty()) << e.path;
      EXPECT_EQ(testsupport::PlainChain(image, shown.front()), shown) << e.path;
    }
  }
}

TEST(FatFixtureBuilds, AreByteForByteTheSame) {
  const FatVolume a = testsupport::BuildFat16Fixture(testsupport::FatImagePath("det-a"));
  const FatVolume b = testsupport::BuildFat16Fixture(testsupport::FatImagePath("det-b"));
  const testsupport::RemoveOnExit cleanupA{a.Path()}, cleanupB{b.Path()};
  const std::vector<uint8_t> ia = testsupport::ReadImageFile(a.Path());
  const std::vector<uint8_t> ib = testsupport::ReadImageFile(b.Path());
  EXPECT_EQ(ia.size(), ib.size());
  EXPECT_TRUE(ia == ib) << "two builds of the same fixture differ";
}

TEST(FatFixtureBuilds, PatternBytesDependOnTheSeedOnly) {
  EXPECT_EQ(testsupport::PatternBytes(1000, 7), testsupport::PatternBytes(1000, 7));
  EXPECT_NE(testsupport::PatternBytes(1000, 7), testsupport::PatternBytes(1000, 8));
  const auto shortOne = testsupport::PatternBytes(10, 7);
  const auto longOne = testsupport::PatternBytes(1000, 7);
  EXPECT_TRUE(std::equal(shortOne.begin(), shortOne.end(), longOne.begin()));
}

}  // namespace
