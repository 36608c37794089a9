// FAT positions decoded from real boot sectors: the first FAT after the
// reserved sectors, the root directory after the FAT copies, cluster 2
// after the root directory, whatever mkfs.fat chose for the reserved count.
#include "fat/fat_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/fat_fixtures.h"

namespace vr {
namespace {

using testsupport::FatVolume;

// The geometry agrees with the plain parser, and a file's first cluster
// found through Cluster_Sector holds the file's first bytes.
void ExpectGeometryLocatesFile(const FatVolume& v, const std::string& file) {
  const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const auto plain = testsupport::ParseFatLayout(image);
  const FatGeometry g = Fat_Geometry(image);
  ASSERT_TRUE(g.Usable()) << v.Path();
  EXPECT_EQ(g.ReservedSectors, static_cast<int32_t>(plain.reservedSectors));
  EXPECT_EQ(g.FirstFatSector, static_cast<int32_t>(plain.reservedSectors));
  EXPECT_EQ(g.NumberOfFats, static_cast<int32_t>(plain.fats));
  EXPECT_EQ(g.SectorsPerFat, static_cast<int32_t>(plain.sectorsPerFat));
  EXPECT_EQ(g.RootDirSector, static_cast<int32_t>(plain.rootDirSector));
  EXPECT_EQ(g.FirstDataSector, static_cast<int32_t>(plain.firstDataSector));
  EXPECT_EQ(g.DataClusters, static_cast<int32_t>(plain.clusters));
  EXPECT_EQ(g.EntryBits, plain.bits);

  const testsupport::FixtureEntry* entry = v.Find(file);
  ASSERT_NE(entry, nullptr);
  const std::vector<uint32_t> clusters = v.ShowFat(file);
  const std::vector<uint8_t> content = testsupport::PatternBytes(entry->size, entry->seed);
  const size_t at =
      static_cast<size_t>(static_cast<int32_t>(Cluster_Sector(g, clusters.front()))) * 512;
  const size_t n = std::min<size_t>(content.size(), g.SectorsPerCluster * 512);
  ASSERT_LE(at + n, image.size());
  EXPECT_TRUE(std::equal(content.begin(), content.begin() + static_cast<long>(n),
                         image.begin() + static_cast<long>(at)))
      << file << " not found at its first cluster";
  // The root directory's first entry is the volume label the fixture set.
  EXPECT_EQ(std::string(image.begin() + static_cast<long>(g.RootDirSector) * 512,
                        image.begin() + static_cast<long>(g.RootDirSector) * 512 + 6),
            "VODURU");
}

TEST(FatGeometry, DefaultReservedSectorsMoveEveryPosition) {
  const FatVolume v = testsupport::MakeFat16DefaultReservedFixture("geo-reserved");
  const testsupport::RemoveOnExit cleanup{v.Path()};
  const FatGeometry g = Fat_Geometry(testsupport::ReadImageFile(v.Path()));
  EXPECT_GT(g.ReservedSectors, 1);
  EXPECT_EQ(g.Kind, FatKind::kFat16);
  EXPECT_EQ(g.KindName(), "FAT16");
  ExpectGeometryLocatesFile(v, "DATA/2024/Quarterly figures.csv");
}

TEST(FatGeometry, ClassicLayoutsWithOneReservedSector) {
  const FatVolume v12 = testsupport::MakeFat12Fixture("geo12");
  const FatVolume v16 = testsupport::MakeFat16Fixture("geo16");
  const testsupport::RemoveOnExit cleanup12{v12.Path()}, cleanup16{v16.Path()};
  EXPECT_EQ(Fat_Geometry(testsupport::ReadImageFile(v12.Path())).ReservedSectors, 1);
  EXPECT_EQ(Fat_Geometry(testsupport::ReadImageFile(v12.Path())).KindName(), "FAT12");
  ExpectGeometryLocatesFile(v12, "GAMES/LEVELS/L1.DAT");
  ExpectGeometryLocatesFile(v16, "DOCS/REPORT.TXT");
}

TEST(FatGeometry, Fat32IsRecognisedAndNotUsable) {
  const FatVolume v = testsupport::MakeFat32Fixture("geo32");
  const testsupport::RemoveOnExit cleanup{v.Path()};
  const FatGeometry g = Fat_Geometry(testsupport::ReadImageFile(v.Path()));
  EXPECT_EQ(g.Kind, FatKind::kFat32);
  EXPECT_EQ(g.KindName(), "FAT32");
  EXPECT_FALSE(g.Usable());
}

TEST(FatGeometry, TooManyClustersForSixteenBitsIsFat32ByCount) {
  // A FAT16-looking boot sector whose size gives 65525 clusters.
  std::vector<uint8_t> b(512, 0);
  b[0x0B] = 0x00;
  b[0x0C] = 0x02;  // 512 bytes per sector
  b[0x0D] = 1;
  b[0x0E] = 1;
  b[0x10] = 2;
  b[0x11] = 0x00;
  b[0x12] = 0x02;  // 512 root entries: 32 sectors
  b[0x16] = 0x00;
  b[0x17] = 0x01;  // 256 sectors per FAT
  const uint32_t total = 1 + 2 * 256 + 32 + 65525;
  b[0x20] = total & 0xFF;
  b[0x21] = (total >> 8) & 0xFF;
  b[0x22] = (total >> 16) & 0xFF;
  EXPECT_EQ(Fat_Geometry(b).Kind, FatKind::kFat32);
  const uint32_t fewer = total - 1;
  b[0x20] = fewer & 0xFF;
  b[0x21] = (fewer >> 8) & 0xFF;
  b[0x22] = (fewer >> 16) & 0xFF;
  const FatGeometry g = Fat_Geometry(b);
  EXPECT_EQ(g.Kind, FatKind::kFat16);
  EXPECT_EQ(g.DataClusters, 65524);
  EXPECT_EQ(g.NotOptimisable, -1);  // clusters 0xFFF0.. collide with the reserved values
}

TEST(FatGeometry, ShortOrEmptyBootSectorsAreNotFat) {
  std::vector<uint8_t> zero(512, 0);
  EXPECT_EQ(Fat_Geometry(zero).Kind, FatKind::kNotFat);
  EXPECT_FALSE(Fat_Geometry(zero).Usable());
  std::vector<uint8_t> shortSector(20, 0);
  EXPECT_EQ(Fat_Geometry(shortSector).Kind, FatKind::kNotFat);
}

}  // namespace
}  // namespace vr
