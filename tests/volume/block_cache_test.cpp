// The block cache over a memory volume: what reaches the device, what comes
// back, and that a write of the program is what a later read returns.
#include "volume/block_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/io_counts.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/session.h"

namespace vr {
namespace {

constexpr int64_t kVolumeSectors = 8192;  // 4 MB

// Each sector holds its own number in every 32-bit word, so any misplaced
// copy shows.
std::vector<uint8_t> NumberedSectors() {
  std::vector<uint8_t> bytes(kVolumeSectors * kSectorSize);
  for (int64_t s = 0; s < kVolumeSectors; ++s)
    for (int w = 0; w < kSectorSize / 4; ++w)
      for (int b = 0; b < 4; ++b)
        bytes[s * kSectorSize + w * 4 + b] = static_cast<uint8_t>(s >> (8 * b));
  return bytes;
}

class BlockCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    ResetErrorState();
    SetMainWindow(&window);
    device = std::make_shared<platform::MemoryDevice>(NumberedSectors());
    platform::MapMemoryDrive('c', device);
    Set_Cache_Limit(kCacheLimitBytes);
    VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessReadWrite);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
    ASSERT_NE(VolumeSession.Locked, 0);
  }
  void TearDown() override {
    Close_Drive(VolumeSession.VolumeHandle);
    Set_Cache_Limit(kCacheLimitBytes);
    SetMainWindow(nullptr);
    platform::ResetPlatform();
  }
  uint64_t Reads() const { return platform::TransferCounts('c').reads; }
  uint64_t BytesRead() const { return platform::TransferCounts('c').readBytes; }
  // The sector number a read put at `at` of `buffer`.
  static int64_t SectorAt(const std::vector<uint8_t>& buffer, size_t at) {
    return buffer[at] | buffer[at + 1] << 8 | buffer[at + 2] << 16 | buffer[at + 3] << 24;
  }
  // Reads `sectors` at `sector` of the run [runStart, runStart + runSectors).
  std::vector<uint8_t> Read(int64_t runStart, int64_t runSectors, int64_t sector, int sectors,
                            bool expectOk = true) {
    std::vector<uint8_t> out(static_cast<size_t>(sectors) * kSectorSize);
    EXPECT_EQ(Cached_Read(Long(runStart), Long(runSectors), Long(sector),
                          MutableBytes(out.data(), out.size())),
              expectOk);
    return out;
  }

  RecordingMainWindow window;
  std::shared_ptr<platform::MemoryDevice> device;
};

TEST_F(BlockCacheTest, ARunIsReadOnceInPiecesAndEverySectorComesBackInItsPlace) {
  // A run at 1000 of a piece and 100 sectors short of another: a whole
  // piece, then the rest.
  const int64_t run = 2 * kCachePieceSectors - 100, end = 1000 + run;
  const uint64_t reads = Reads(), bytes = BytesRead();
  for (int64_t s = 1000; s < end; s += 2) {
    const std::vector<uint8_t> record = Read(1000, run, s, 2);
    ASSERT_EQ(SectorAt(record, 0), s);
    ASSERT_EQ(SectorAt(record, kSectorSize + 508), s + 1);
  }
  EXPECT_EQ(Reads() - reads, 2u);
  EXPECT_EQ(BytesRead() - bytes, static_cast<uint64_t>(run) * kSectorSize);
  // Asked again, in any order: nothing more is read.
  for (int64_t s = end - 2; s >= 1000; s -= 250) ASSERT_EQ(SectorAt(Read(1000, run, s, 2), 0), s);
  EXPECT_EQ(Reads() - reads, 2u);
  // A read across the two pieces is put together from both.
  const int64_t seam = 1000 + kCachePieceSectors - 2;
  const std::vector<uint8_t> across = Read(1000, run, seam, 4);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(SectorAt(across, k * kSectorSize), seam + k);
  EXPECT_EQ(Reads() - reads, 2u);
  EXPECT_EQ(Cache_Stats().bytesHeld, run * kSectorSize);
  // A piece never reaches outside its run: another run next to it is read on its own.
  EXPECT_EQ(SectorAt(Read(end, 16, end, 2), 0), end);
  EXPECT_EQ(Reads() - reads, 3u);
  EXPECT_EQ(BytesRead() - bytes, static_cast<uint64_t>(run + 16) * kSectorSize);
}

TEST_F(BlockCacheTest, WritesOfTheProgramAreWhatLaterReadsReturn) {
  ASSERT_EQ(SectorAt(Read(0, 4096, 100, 2), 0), 100);
  std::vector<uint8_t> changed(2 * kSectorSize, 0xA5);
  // Written on the disk and passed to the cache, as the program's write path does.
  Seek_Sector(Long(101));
  nt::DWORD written = 0;
  ASSERT_TRUE(nt::WriteFile(VolumeSession.VolumeHandle, changed.data(), kSectorSize * 2, &written,
                            nullptr));
  Cache_Written(Long(101), Bytes(changed.data(), changed.size()));
  const uint64_t reads = Reads();
  const std::vector<uint8_t> after = Read(0, 4096, 100, 4);
  EXPECT_EQ(Reads(), reads) << "served from the cache";
  EXPECT_EQ(SectorAt(after, 0), 100);
  EXPECT_EQ(after[kSectorSize], 0xA5);
  EXPECT_EQ(after[3 * kSectorSize - 1], 0xA5);
  EXPECT_EQ(SectorAt(after, 3 * kSectorSize), 103);
  // And what the cache holds is what the disk holds.
  EXPECT_EQ(device->Bytes()[101 * kSectorSize], 0xA5);
  // A write that is not passed on (another program's) is seen only after a re-open.
  device->Bytes()[200 * kSectorSize] = 0x5A;
  EXPECT_EQ(SectorAt(Read(0, 4096, 200, 1), 0), 200);
  Close_Drive(VolumeSession.VolumeHandle);
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessReadWrite);
  EXPECT_EQ(Cache_Stats().bytesHeld, 0);
  EXPECT_EQ(Read(0, 4096, 200, 1)[0], 0x5A);
}

TEST_F(BlockCacheTest, TheBoundHoldsAndRereadPiecesShrink) {
  const int64_t twoPieces = 2 * kCachePieceSectors * kSectorSize;
  Set_Cache_Limit(twoPieces);
  const uint64_t reads = Reads();
  for (int64_t s = 0; s < 3 * kCachePieceSectors; s += 2)
    ASSERT_EQ(SectorAt(Read(0, 8192, s, 2), 0), s);
  EXPECT_EQ(Reads() - reads, 3u) << "a front-to-back pass reads each piece once";
  EXPECT_LE(Cache_Stats().bytesHeld, twoPieces);
  EXPECT_EQ(Cache_Stats().pieceSectors, kCachePieceSectors);
  // Jumping back to a piece dropped for room: later pieces are smaller, so
  // a walk that jumps about does not read a megabyte for each record.
  ASSERT_EQ(SectorAt(Read(0, 8192, 10, 2), 0), 10);
  EXPECT_EQ(Cache_Stats().pieceSectors, kCachePieceSectors / 2);
  EXPECT_LE(Cache_Stats().bytesHeld, twoPieces);
  for (int round = 0; round < 40; ++round)
    for (int64_t s : {20, 2100, 4200, 6300, 8100})
      ASSERT_EQ(SectorAt(Read(0, 8192, s + round % 7 * 2, 2), 0), s + round % 7 * 2);
  EXPECT_GE(Cache_Stats().pieceSectors, kCacheSmallestPieceSectors);
  EXPECT_LT(Cache_Stats().pieceSectors, kCachePieceSectors / 2);
  EXPECT_LE(Cache_Stats().peakBytes, kCacheLimitBytes);
  EXPECT_LE(Cache_Stats().bytesHeld, twoPieces);
  // A cache too small for one piece reads only what is asked.
  Set_Cache_Limit(0);
  EXPECT_EQ(Cache_Stats().bytesHeld, 0);
  const uint64_t bytes = BytesRead();
  EXPECT_EQ(SectorAt(Read(0, 8192, 7000, 2), 0), 7000);
  EXPECT_EQ(BytesRead() - bytes, 2u * kSectorSize);
}

TEST_F(BlockCacheTest, TheCacheGrowsOnlyForAWalkThatJumpsBack) {
  ASSERT_GE(kCacheLimitBytes, 2 * kCacheStartBytes);
  const int64_t startPieces = kCacheStartBytes / (kCachePieceSectors * kSectorSize);
  const uint64_t reads = Reads();
  // Front to back over the whole volume: never more than the starting bound
  // is held, and each piece is read once.
  for (int64_t s = 0; s < kVolumeSectors; s += 2) ASSERT_EQ(SectorAt(Read(0, 8192, s, 2), 0), s);
  EXPECT_EQ(Reads() - reads, static_cast<uint64_t>(kVolumeSectors / kCachePieceSectors));
  EXPECT_EQ(Cache_Stats().boundBytes, kCacheStartBytes);
  EXPECT_EQ(Cache_Stats().bytesHeld, kCacheStartBytes);
  // Back to a piece dropped for room: the bound doubles, pieces keep their size.
  ASSERT_EQ(SectorAt(Read(0, 8192, 4, 2), 0), 4);
  EXPECT_EQ(Cache_Stats().boundBytes, 2 * kCacheStartBytes);
  EXPECT_EQ(Cache_Stats().pieceSectors, kCachePieceSectors);
  // The pieces held are all still there: nothing held is read again.
  const uint64_t held = Reads();
  for (int64_t piece = 0; piece < startPieces; ++piece) {
    const int64_t s = kVolumeSectors - (piece + 1) * kCachePieceSectors;
    ASSERT_EQ(SectorAt(Read(0, 8192, s, 2), 0), s);
  }
  ASSERT_EQ(SectorAt(Read(0, 8192, 6, 2), 0), 6);
  EXPECT_EQ(Reads(), held);
  // Never past the limit, and a re-opened volume starts small again.
  Set_Cache_Limit(kCacheStartBytes + kCachePieceSectors * kSectorSize);
  EXPECT_EQ(Cache_Stats().boundBytes, kCacheStartBytes + kCachePieceSectors * kSectorSize);
  Close_Drive(VolumeSession.VolumeHandle);
  Set_Cache_Limit(kCacheLimitBytes);
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessReadWrite);
  ASSERT_EQ(SectorAt(Read(0, 8192, 2, 2), 0), 2);
  EXPECT_EQ(Cache_Stats().boundBytes, kCacheStartBytes);
}

TEST_F(BlockCacheTest, APieceThatCannotBeReadWholeFallsBackToTheSectorsAsked) {
  // The run claims to reach past the end of the volume: its piece cannot be
  // read, the sectors asked for can, and the failure is remembered.
  const BlockCacheStats before = Cache_Stats();
  const int64_t start = kVolumeSectors - kCachePieceSectors / 2;
  EXPECT_EQ(SectorAt(Read(start, 4000, start, 2), 0), start);
  EXPECT_EQ(SectorAt(Read(start, 4000, start + 2, 2), 0), start + 2);
  EXPECT_EQ(Cache_Stats().pieceReads, before.pieceReads);
  EXPECT_EQ(Cache_Stats().directReads, before.directReads + 2);
  EXPECT_EQ(Cache_Stats().bytesHeld, 0);
  // Sectors that do not exist are a failed read, with nothing recorded.
  Read(start, 4000, 9000, 2, false);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  // A read outside the run it names is passed straight on.
  const uint64_t direct = Cache_Stats().directReads;
  EXPECT_EQ(SectorAt(Read(100, 10, 50, 1), 0), 50);
  EXPECT_EQ(Cache_Stats().directReads, direct + 1);
}

}  // namespace
}  // namespace vr
