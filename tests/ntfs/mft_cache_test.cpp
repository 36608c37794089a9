// FILE records and index blocks read through the block cache: the views
// report the same with and without it while reading each part of the MFT
// once, and a record the program writes is what the next read returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ntfs/cluster_map.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs_scan_harness.h"
#include "ntfs_test_support.h"
#include "platform/io_counts.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/block_cache.h"

namespace vr::test {
namespace {

class MftCacheTest : public NtfsScanTest {
 protected:
  void SetUp() override {
    NtfsScanTest::SetUp();
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    static const std::vector<uint8_t> bytes =
        testsupport::ReadFileBytes(testsupport::SharedNtfsFixture().Path());
    image_ = bytes;
    ASSERT_GT(image_.size(), 512u);
  }
  void TearDown() override {
    Set_Cache_Limit(kCacheLimitBytes);
    NtfsScanTest::TearDown();
  }

  struct ViewRun {
    std::vector<std::string> lines;
    std::vector<uint8_t> boxes;
    int64_t records = 0, indexBlocks = 0;
    uint64_t reads = 0, bytes = 0;
    int64_t pieceReads = 0;
  };
  ViewRun View(bool checked, int64_t cacheLimit) {
    ViewRun r;
    Set_Cache_Limit(cacheLimit);
    EXPECT_TRUE(Open(image_));
    const platform::IoCounts before = platform::TransferCounts('n');
    const int64_t pieces = Cache_Stats().pieceReads;
    r.lines = Run(checked);
    const platform::IoCounts after = platform::TransferCounts('n');
    r.reads = after.reads - before.reads;
    r.bytes = after.readBytes - before.readBytes;
    r.pieceReads = Cache_Stats().pieceReads - pieces;
    r.records = VolumeSession.RecordsRead;
    r.indexBlocks = VolumeSession.IndexBlocksRead;
    for (int64_t i = 0; i <= BoxColors.UBound(); ++i) r.boxes.push_back(BoxColors(i));
    EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
    return r;
  }
  // Sectors of the MFT's segments, and the 1 MB pieces they make.
  static int64_t MftPieces() {
    int64_t pieces = 0;
    for (int64_t i = 1; i <= VolumeSession.MftRunLengths.UBound(); ++i) {
      const int64_t sectors =
          int64_t{VolumeSession.MftRunLengths(i).Value()} * VolumeSession.SectorsPerCluster;
      pieces += (sectors + kCachePieceSectors - 1) / kCachePieceSectors;
    }
    return pieces;
  }

  std::vector<uint8_t> image_;
};

TEST_F(MftCacheTest, ViewsReportTheSameAndReadEachPartOfTheMftOnce) {
  for (bool checked : {true, false}) {
    SCOPED_TRACE(checked ? "Checked View" : "Fast View");
    const ViewRun plain = View(checked, 0);  // no piece fits: every record read alone
    const ViewRun cached = View(checked, kCacheLimitBytes);
    ASSERT_TRUE(Has(cached.lines, checked ? "User files=" : "Files=")) << Joined(cached.lines);
    EXPECT_EQ(cached.lines, plain.lines);
    EXPECT_EQ(cached.boxes, plain.boxes);
    EXPECT_EQ(cached.records, plain.records);
    EXPECT_EQ(cached.indexBlocks, plain.indexBlocks);
    EXPECT_EQ(plain.pieceReads, 0);
    // Each piece of the MFT is read at most once, and the records read one
    // by one before are now a handful of transfers.
    EXPECT_GT(cached.pieceReads, 0);
    EXPECT_LE(cached.pieceReads, MftPieces() + (checked ? plain.indexBlocks : 0));
    EXPECT_GT(plain.reads, static_cast<uint64_t>(plain.records));
    EXPECT_LT(cached.reads * 5, plain.reads) << cached.reads << " vs " << plain.reads;
  }
}

TEST_F(MftCacheTest, ARecordWrittenAfterItWasCachedIsReadAnew) {
  ASSERT_TRUE(Open(image_));
  ASSERT_TRUE(Load_Mft());
  // A plain user file whose record now lies in a cached piece.
  int64_t record = -1;
  ByteArray buffer(0);
  for (int64_t r = 64; r < Mft_Record_Count() && record < 0; ++r) {
    if (!Is_Active(Long(r))) continue;
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    Decode_FILE(VolumeSession.VolumeHandle, Long(r), lengths, lcns, buffer, info);
    ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
    if (!info.Name.empty() && info.IsDirectory == 0 && info.HasAttributeList == 0 &&
        (info.DosAttributes & 0x02) == 0)
      record = r;
  }
  ASSERT_GE(record, 0);
  ASSERT_GT(Cache_Stats().bytesHeld, 0);
  ASSERT_TRUE(Read_FILE(buffer, Long(record)));
  const int64_t si = AttributeAt(buffer.Span(), 0x10);
  ASSERT_GT(si, 0);
  const int64_t flagsAt = si + U16(buffer.Span(), si + 0x14) + 0x20;
  buffer(flagsAt) |= 0x02;  // hidden

  // Written through the program's own path, then read again: the new bytes,
  // without a further transfer (the cached copy took them).
  ASSERT_TRUE(Save_Buf(buffer, Long(record)));
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  const uint64_t reads = platform::TransferCounts('n').reads;
  ByteArray again(0);
  ASSERT_TRUE(Read_FILE(again, Long(record)));
  EXPECT_EQ(platform::TransferCounts('n').reads, reads);
  // Save_Buf wrote the record under the next update sequence number.
  const int64_t usa = U16(buffer.Span(), 4);
  uint16_t usn = static_cast<uint16_t>(U16(buffer.Span(), usa) + 1);
  if (usn == 0 || usn == 0xFFFF) usn = 1;
  std::vector<uint8_t> written(buffer.data(), buffer.data() + buffer.size());
  for (int64_t pos = usa, k = 0; k <= VolumeSession.SectorsPerFileRecord; ++k) {
    written[static_cast<size_t>(pos)] = static_cast<uint8_t>(usn);
    written[static_cast<size_t>(pos) + 1] = static_cast<uint8_t>(usn >> 8);
    pos = 512 * (k + 1) - 2;
  }
  EXPECT_TRUE(std::equal(again.data(), again.data() + again.size(), written.data()));
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  Decode_FILE(VolumeSession.VolumeHandle, Long(record), lengths, lcns, again, info);
  EXPECT_NE(info.DosAttributes & 0x02, 0);
  // The disk holds the same: after a re-open the record comes from it.
  Close_Drive(VolumeSession.VolumeHandle);
  EXPECT_EQ(Cache_Stats().bytesHeld, 0);
  VolumeSession.VolumeHandle = Open_Lock_Drive("n:", kAccessReadWrite);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  ByteArray fromDisk(0);
  ASSERT_TRUE(Read_FILE(fromDisk, Long(record)));
  EXPECT_TRUE(std::equal(fromDisk.data(), fromDisk.data() + fromDisk.size(), written.data()));
}

}  // namespace
}  // namespace vr::test
