// 12-bit tables widened into 16-bit entries: marks, cluster numbers near
// the reserved values, and the last cluster of the table.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fat/fat_table.h"
#include "runtime/run_error.h"

namespace vr {
namespace {

// Packs 12-bit entries the way the FAT format stores them: two entries in
// three bytes, the even entry in the low 12 bits.
std::vector<uint8_t> Pack12(const std::vector<uint16_t>& entries) {
  std::vector<uint8_t> bytes((entries.size() * 3 + 1) / 2, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t p = i + i / 2;
    const uint16_t v = entries[i] & 0xFFF;
    if (i % 2 == 0) {
      bytes[p] = static_cast<uint8_t>(v);
      bytes[p + 1] = static_cast<uint8_t>((bytes[p + 1] & 0xF0) | (v >> 8));
    } else {
      bytes[p] = static_cast<uint8_t>((bytes[p] & 0x0F) | ((v & 0x0F) << 4));
      bytes[p + 1] = static_cast<uint8_t>(v >> 4);
    }
  }
  return bytes;
}

// Unpacks `entries` (0 .. MaxCluster) from a buffer exactly as long as they
// need, so a read past the last entry cannot go unnoticed.
void Unpack(const std::vector<uint16_t>& entries) {
  const std::vector<uint8_t> packed = Pack12(entries);
  FatBytes.ReDim(static_cast<int64_t>(packed.size()) - 1);
  for (size_t k = 0; k < packed.size(); ++k) FatBytes(static_cast<int64_t>(k)) = packed[k];
  MaxCluster = static_cast<int32_t>(entries.size()) - 1;
  FatTable.ReDim(MaxCluster);
  Unpack_FAT12();
}

std::vector<uint16_t> Sequence(int32_t maxCluster) {
  std::vector<uint16_t> e(static_cast<size_t>(maxCluster) + 1);
  e[0] = 0xFF8;
  e[1] = 0xFFF;
  for (int32_t c = 2; c <= maxCluster; ++c)
    e[static_cast<size_t>(c)] = static_cast<uint16_t>((c * 7 + 3) % 4000 + 2);
  return e;
}

TEST(UnpackFat12, MarksAreWidenedToSixteenBits) {
  std::vector<uint16_t> e = Sequence(4001);  // 4000 clusters
  e[10] = 0xFF8;
  e[11] = 0xFF7;
  e[12] = 0xFFF;
  e[13] = 0xFF0;
  e[14] = 0xFF6;
  e[15] = 0xFFB;
  e[16] = 0;
  Unpack(e);
  EXPECT_EQ(FatTable(10), 0xFFF8);
  EXPECT_EQ(FatTable(11), 0xFFF7);
  EXPECT_EQ(FatTable(12), 0xFFFF);
  EXPECT_EQ(FatTable(13), 0xFFF0);
  EXPECT_EQ(FatTable(14), 0xFFF6);
  EXPECT_EQ(FatTable(15), 0xFFFB);
  EXPECT_EQ(FatTable(16), 0);
  EXPECT_EQ(FatTable(0), 0xFFF8);  // media byte F8 with its filler
  EXPECT_EQ(FatTable(1), 0xFFFF);
}

TEST(UnpackFat12, EveryClusterNumberIsKept) {
  const std::vector<uint16_t> e = Sequence(4001);
  Unpack(e);
  for (int32_t c = 2; c <= 4001; ++c) ASSERT_EQ(FatTable(c), e[static_cast<size_t>(c)]) << c;
}

TEST(UnpackFat12, TheLastClusterIsUnpackedWhenItIsOdd) {
  std::vector<uint16_t> e = Sequence(4001);
  e[4000] = 0x123;
  e[4001] = 0xFF8;
  Unpack(e);
  EXPECT_EQ(FatTable.UBound(), 4001);
  EXPECT_EQ(FatTable(4000), 0x123);
  EXPECT_EQ(FatTable(4001), 0xFFF8);
}

TEST(UnpackFat12, TheLastClusterIsUnpackedWhenItIsEven) {
  std::vector<uint16_t> e = Sequence(2846);
  e[2845] = 0xABC;
  e[2846] = 0xFFF;
  Unpack(e);
  EXPECT_EQ(FatTable.UBound(), 2846);
  EXPECT_EQ(FatTable(2845), 0xABC);
  EXPECT_EQ(FatTable(2846), 0xFFFF);
}

TEST(UnpackFat12, ClusterNumbersFromFF0AreKeptOnVolumesThatHaveThem) {
  // 4084 clusters: 2 .. 4085 (0xFF5). A pointer to cluster 0xFF0..0xFF5 is a
  // cluster number, 0xFF6 and up cannot be one.
  std::vector<uint16_t> e = Sequence(0xFF5);
  e[0xFEF] = 0xFF0;
  e[0xFF0] = 0xFF5;
  e[0xFF4] = 0xFF6;
  e[0xFF5] = 0xFF8;
  e[20] = 0xFF7;
  Unpack(e);
  EXPECT_EQ(FatTable(0xFEF), 0x0FF0);
  EXPECT_EQ(FatTable(0xFF0), 0x0FF5);
  EXPECT_EQ(FatTable(0xFF4), 0xFFF6);
  EXPECT_EQ(FatTable(0xFF5), 0xFFF8);
  EXPECT_EQ(FatTable(20), 0xFFF7);
}

TEST(UnpackFat12, ARawTableShorterThanTheClustersRaisesInsteadOfOverreading) {
  const std::vector<uint8_t> packed = Pack12(Sequence(1001));
  FatBytes.ReDim(static_cast<int64_t>(packed.size()) - 3);  // two bytes short
  MaxCluster = 1001;
  FatTable.ReDim(MaxCluster);
  try {
    Unpack_FAT12();
    FAIL() << "no error raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.Number(), kErrSubscript);
  }
}

}  // namespace
}  // namespace vr
