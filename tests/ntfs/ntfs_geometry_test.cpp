#include "ntfs/ntfs_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vr {
namespace {

std::vector<uint8_t> Boot(uint8_t cluster, uint8_t record, uint8_t index) {
  std::vector<uint8_t> b(512, 0);
  b[0x0D] = cluster;
  b[0x40] = record;
  b[0x44] = index;
  return b;
}

TEST(NtfsGeometry, SectorsPerClusterAbove0x80AreAPowerOfTwo) {
  EXPECT_EQ(Ntfs_Sectors_Per_Cluster(Bytes(Boot(8, 0, 0))), 8);
  EXPECT_EQ(Ntfs_Sectors_Per_Cluster(Bytes(Boot(0x80, 0, 0))), 128);
  EXPECT_EQ(Ntfs_Sectors_Per_Cluster(Bytes(Boot(0xF8, 0, 0))), 256);   // 128 KB clusters
  EXPECT_EQ(Ntfs_Sectors_Per_Cluster(Bytes(Boot(0xF4, 0, 0))), 4096);  // 2 MB clusters
  EXPECT_EQ(Ntfs_Sectors_Per_Cluster(Bytes(Boot(0, 0, 0))), 0);
}

TEST(NtfsGeometry, NegativeRecordSizeIsAPowerOfTwoInBytes) {
  const auto b = Boot(8, 0xF6, 0xF4);
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(b), 0x40, 8), 2);  // 1 KB
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(b), 0x44, 8), 8);  // 4 KB
  // 4 KB records on a volume of 64 KB clusters.
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(128, 0xF4, 0xF4)), 0x40, 128), 8);
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(1, 0xF7, 0)), 0x40, 1), 1);  // 512 bytes
}

TEST(NtfsGeometry, PositiveSizeCountsClusters) {
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(2, 1, 4)), 0x40, 2), 2);
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(2, 1, 4)), 0x44, 2), 8);
}

TEST(NtfsGeometry, SizesThatAreNoWholeSectorAreRefused) {
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(1, 0xF8, 0)), 0x40, 1), 0);  // 256 bytes
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(1, 0x80, 0)), 0x40, 1), 0);  // 2^128 bytes
  EXPECT_EQ(Ntfs_Block_Sectors(Bytes(Boot(1, 0, 0)), 0x40, 1), 0);
}

}  // namespace
}  // namespace vr
