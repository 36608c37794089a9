#include "ntfs/index_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ntfs_test_support.h"
#include "platform/platform.h"
#include "record_builder.h"

namespace vr::test {
namespace {

// An index block of `sectors` sectors with its update sequence protected:
// each sector filled with its own number, the sector ends saved in the array.
std::vector<uint8_t> IndexBlock(int sectors, uint16_t usn, const char* magic = "INDX") {
  std::vector<uint8_t> b(static_cast<size_t>(sectors) * 512);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i / 512 + 0x10);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(magic[i]);
  Put(b, 4, 0x28, 2);
  Put(b, 6, static_cast<uint64_t>(sectors + 1), 2);
  Put(b, 0x18, 0x28, 4);
  Put(b, 0x20, b.size() - 24, 4);  // allocated size of the entries
  Put(b, 0x28, usn, 2);
  for (int k = 0; k < sectors; ++k) {
    const size_t end = static_cast<size_t>(k) * 512 + 510;
    b[0x2A + 2 * k] = b[end];
    b[0x2B + 2 * k] = b[end + 1];
    Put(b, end, usn, 2);
  }
  return b;
}

VbArray<Long> Segments(const std::vector<int32_t>& values) {
  VbArray<Long> a(static_cast<int64_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) a(static_cast<int64_t>(i) + 1) = values[i];
  return a;
}

class IndexBlocks : public NtfsTest {};

TEST_F(IndexBlocks, VcnCountsClustersWhenBlocksAreNotSmallerThanClusters) {
  VolumeSession.SectorsPerCluster = 8;
  VolumeSession.SectorsPerIndexBlock = 8;
  const auto lengths = Segments({2, 3});
  Long offset = -1;
  EXPECT_EQ(Vcn_To_Run(0, lengths, offset), 1);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(Vcn_To_Run(1, lengths, offset), 1);
  EXPECT_EQ(offset, 1);
  EXPECT_EQ(Vcn_To_Run(2, lengths, offset), 2);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(Vcn_To_Run(4, lengths, offset), 2);
  EXPECT_EQ(offset, 2);
  EXPECT_EQ(Vcn_To_Run(5, lengths, offset), -1);
  EXPECT_EQ(Vcn_To_Run(-1, lengths, offset), -1);
}

TEST_F(IndexBlocks, VcnCountsSectorsWhenBlocksAreSmallerThanClusters) {
  VolumeSession.SectorsPerCluster = 8;     // 4 KB clusters
  VolumeSession.SectorsPerIndexBlock = 2;  // 1 KB blocks
  const auto lengths = Segments({1, 1});
  Long offset = -1;
  EXPECT_EQ(Vcn_To_Run(6, lengths, offset), 1);
  EXPECT_EQ(offset, 6);
  EXPECT_EQ(Vcn_To_Run(10, lengths, offset), 2);
  EXPECT_EQ(offset, 2);
  EXPECT_EQ(Vcn_To_Run(16, lengths, offset), -1);
}

TEST_F(IndexBlocks, FixupRestoresSectorEndsAndLeavesAMismatchAsItIs) {
  auto b = IndexBlock(8, 0x0033);
  b[3 * 512 + 510] = 0x99;  // a torn sector
  Fixup_INDX(MutableBytes(b));
  for (int k = 0; k < 8; ++k) {
    if (k == 3) continue;
    EXPECT_EQ(b[k * 512 + 510], 0x10 + k) << k;
    EXPECT_EQ(b[k * 512 + 511], 0x10 + k) << k;
  }
  EXPECT_EQ(b[3 * 512 + 510], 0x99);
  EXPECT_EQ(b[3 * 512 + 511], 0x00);  // high byte of the sequence number
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(IndexBlocks, FixupStopsAtTheBufferWhateverTheSizeField) {
  auto b = IndexBlock(2, 0x0044);
  Put(b, 0x20, 0xFFFF, 4);
  Fixup_INDX(MutableBytes(b));
  EXPECT_EQ(b[1022], 0x11);
}

// Index blocks read from a volume held in memory.
class IndexReads : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    platform::ResetPlatform();
    VolumeSession.SectorsPerCluster = 1;
    VolumeSession.SectorsPerIndexBlock = 8;
    VolumeSession.TotalClusters = 200;
    image_ = std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(200 * 512, 0));
  }
  void Open() {
    platform::MapMemoryDrive('q', image_);
    VolumeSession.VolumeHandle = Open_Drive("q:", kAccessRead, 3);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
  }
  void TearDown() override {
    Long handle = VolumeSession.VolumeHandle;
    Close_Drive(handle);
    VolumeSession.VolumeHandle = -1;
    platform::ResetPlatform();
    NtfsTest::TearDown();
  }
  void Place(const std::vector<uint8_t>& bytes, size_t from, size_t sector, size_t count) {
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(from * 512),
              bytes.begin() + static_cast<std::ptrdiff_t>((from + count) * 512),
              image_->Bytes().begin() + static_cast<std::ptrdiff_t>(sector * 512));
  }

  std::shared_ptr<platform::MemoryDevice> image_;
  ByteArray buffer_;
};

TEST_F(IndexReads, BlockSplitAcrossTwoRunsIsJoinedAndFixedUp) {
  const auto block = IndexBlock(8, 0x0101);
  const auto lengths = Segments({4, 5, 10});
  const auto lcns = Segments({150, 10, 40});
  // VCN 4: the last 5 clusters of run 2 at 10..14 and 3 of run 3 at 40.
  Place(block, 0, 10, 5);
  Place(block, 5, 40, 3);
  Open();
  const Long before = VolumeSession.IndexBlocksRead;
  ASSERT_TRUE(Read_INDX(4, lengths, lcns, buffer_));
  EXPECT_EQ(buffer_.UBound(), 8 * 512 - 1);
  EXPECT_EQ(VolumeSession.IndexBlocksRead - before, 2);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(buffer_(k * 512 + 510), 0x10 + k) << k;
  EXPECT_EQ(buffer_(6 * 512 + 100), 0x16);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(IndexReads, BlockInSectorUnitsInsideOneCluster) {
  VolumeSession.SectorsPerCluster = 8;
  VolumeSession.SectorsPerIndexBlock = 2;
  VolumeSession.TotalClusters = 25;
  const auto block = IndexBlock(2, 0x0202);
  Place(block, 0, 3 * 8 + 4, 2);  // cluster 3, sectors 4 and 5
  Open();
  ASSERT_TRUE(Read_INDX(4, Segments({1}), Segments({3}), buffer_));
  EXPECT_EQ(buffer_(1022), 0x11);
}

TEST_F(IndexReads, VcnOutsideTheRunsIsIIlt0) {
  Open();
  EXPECT_FALSE(Read_INDX(30, Segments({10}), Segments({40}), buffer_));
  EXPECT_EQ(ErrorState.ErrorText, "II<0");
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(IndexReads, BlockRunningPastTheLastRunIsIIlt0) {
  Open();
  EXPECT_FALSE(Read_INDX(6, Segments({10}), Segments({40}), buffer_));
  EXPECT_EQ(ErrorState.ErrorText, "II<0");
}

TEST_F(IndexReads, FreeBlockIsSkippedWithoutError) {
  const auto block = IndexBlock(8, 0x0303, "AFP\0");
  Place(block, 0, 40, 8);
  Open();
  EXPECT_FALSE(Read_INDX(0, Segments({8}), Segments({40}), buffer_));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(IndexReads, AnythingElseIsINDX) {
  Open();
  EXPECT_FALSE(Read_INDX(0, Segments({8}), Segments({40}), buffer_));
  EXPECT_EQ(ErrorState.ErrorText, "INDX");
  EXPECT_EQ(ErrorState.RecordFault, -1);
}

TEST_F(IndexReads, ReadPastTheDeviceIsAFailedRead) {
  VolumeSession.TotalClusters = 400;
  Open();
  EXPECT_FALSE(Read_INDX(0, Segments({8}), Segments({196}), buffer_));
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
  EXPECT_EQ(ErrorState.ReadFault, -1);
}

TEST_F(IndexReads, DamagedArrayOffsetIsTrapped) {
  auto block = IndexBlock(8, 0x0404);
  Put(block, 4, 0xFFFF, 2);
  Place(block, 0, 40, 8);
  Open();
  EXPECT_FALSE(Read_INDX(0, Segments({8}), Segments({40}), buffer_));
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(ErrorState.ErrorWhere, "Read_INDX");
}

}  // namespace
}  // namespace vr::test
