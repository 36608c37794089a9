// Free segments from the volume bitmap, and the free-space figures built on
// them: short gaps, the split at the allocation floor, the MFT zone, the end
// of the volume.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "cluster_map_test_support.h"
#include "ntfs/cluster_map.h"
#include "support/run_errors.h"

namespace vr::test {
namespace {

using FreeSegments = ClusterMapTest;

TEST_F(FreeSegments, VolumeWithoutFreeClusterHasNoSegmentAndNoFreeSpace) {
  Volume(4096);
  Setup_FREE_Segs();
  EXPECT_EQ(Allocation.FreeCount, 0);
  EXPECT_EQ(Allocation.FreeCursor, 0);
  EXPECT_EQ(Allocation.SmallGapClusters, 0);
  EXPECT_EQ(Total_Free(), 0);
  EXPECT_EQ(Large_Free(), 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FreeSegments, EntryZeroStaysEmptyAndCursorIsReset) {
  Volume(4096);
  Free(800, 40);
  Setup_FREE_Segs();
  ASSERT_EQ(Allocation.FreeCount, 1);
  EXPECT_EQ(Allocation.FreeStarts(0), 0);
  EXPECT_EQ(Allocation.FreeLengths(0), 0);
  EXPECT_EQ(Allocation.FreeCursor, 0);
  EXPECT_EQ(Listed(), (std::vector<Gap>{{800, 40}}));
}

TEST_F(FreeSegments, ShortGapEndingInsideAByteIsCountedButNotListed) {
  Volume(4096);
  Free(101, 10);  // ends at cluster 111, inside byte 13
  Setup_FREE_Segs();
  EXPECT_EQ(Allocation.FreeCount, 0);
  EXPECT_EQ(Allocation.SmallGapClusters, 10);
  EXPECT_EQ(Total_Free(), 10 * 8);
  EXPECT_EQ(Large_Free(), 0);
}

TEST_F(FreeSegments, ShortGapEndingAtAFullByteIsListed) {
  Volume(4096);
  Free(102, 10);  // ends at cluster 112: byte 14 is 0xFF
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{102, 10}}));
  EXPECT_EQ(Allocation.SmallGapClusters, 0);
  EXPECT_EQ(Total_Free(), 80);
}

TEST_F(FreeSegments, ShortGapEndingAtABoundaryBeforeAMixedByteIsNotListed) {
  Volume(4096);
  Free(102, 10);
  Free(113, 3);  // byte 14 is no longer full: its first bit closes the gap
  Setup_FREE_Segs();
  EXPECT_EQ(Allocation.FreeCount, 0);
  EXPECT_EQ(Allocation.SmallGapClusters, 13);
}

TEST_F(FreeSegments, SixteenClustersEndingInsideAByteAreListed) {
  Volume(4096);
  Free(203, 16);
  Free(300, 15);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{203, 16}}));
  EXPECT_EQ(Allocation.SmallGapClusters, 15);
}

TEST_F(FreeSegments, GapReachingTheEndIsListedUpToTheLastCluster) {
  Volume(4096);
  Free(4090, 6);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{4090, 6}}));
}

TEST_F(FreeSegments, LastPartialByteIsReadBitByBit) {
  // 4093 clusters: the last byte stands for five clusters only.
  Volume(4093);
  Free(4000, 93);
  Use(4090, 1);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{4000, 90}, {4091, 2}}));
  EXPECT_EQ(Total_Free(), 92 * 8);
}

TEST_F(FreeSegments, UsedClusterInTheLastPartialByteIsNeverListedFree) {
  Volume(4093);
  Free(4000, 92);  // cluster 4092, the last, stays in use
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{4000, 92}}));
}

TEST_F(FreeSegments, GapCrossingTheAllocationFloorBecomesTwo) {
  Volume(8192);
  Allocation.AllocationFloor = 1024;
  Free(1000, 100);
  Free(2000, 50);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{1000, 24}, {1024, 76}, {2000, 50}}));
  EXPECT_EQ(Total_Free(), 150 * 8);
}

TEST_F(FreeSegments, GapStartingOrEndingAtTheFloorIsNotSplit) {
  Volume(8192);
  Allocation.AllocationFloor = 1024;
  Free(1000, 24);
  Free(1024 + 8, 40);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{1000, 24}, {1032, 40}}));
}

TEST_F(FreeSegments, MftZoneIsNeverListedNorCountedFree) {
  Volume(8192);
  Zone(2003, 2400);  // bytes 250 .. 300
  Free(1900, 1000);  // runs into and out of the zone
  Setup_FREE_Segs();
  // Up to the zone's first byte, then from the byte after its last.
  EXPECT_EQ(Listed(), (std::vector<Gap>{{1900, 100}, {2408, 492}}));
  EXPECT_EQ(Total_Free(), (100 + 492) * 8);
  EXPECT_EQ(Allocation.VolumeBitmap(260), 0);  // a view leaves the bitmap alone
}

TEST_F(FreeSegments, ShortGapEndingAtTheZoneIsListed) {
  Volume(8192);
  Zone(2000, 2400);
  Free(1995, 5);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{1995, 5}}));
}

// The zone is a reservation, never bits set in the image of the bitmap:
// also before a shared-mode optimisation the image stays as read.
TEST_F(FreeSegments, SharedOptimisationReservesTheZoneWithoutTouchingTheBitmap) {
  Volume(8192);
  Zone(2000, 2400);
  Free(1900, 1000);
  VolumeSession.SharedMode = -1;
  DefragMode = 0;
  Setup_FREE_Segs();
  for (int64_t k = 250; k <= 300; ++k) EXPECT_EQ(Allocation.VolumeBitmap(k), 0) << k;
  EXPECT_EQ(Listed(), (std::vector<Gap>{{1900, 100}, {2408, 492}}));
  EXPECT_EQ(Mft_Zone_Free(), 401);
}

TEST_F(FreeSegments, ExclusiveOptimisationLeavesTheBitmapAsRead) {
  Volume(8192);
  Zone(2000, 2400);
  Free(1900, 1000);
  DefragMode = 1;
  Setup_FREE_Segs();
  EXPECT_EQ(Allocation.VolumeBitmap(260), 0);
}

TEST_F(FreeSegments, OnFatEveryGapIsListedAndThereIsNoZone) {
  Volume(4096);
  VolumeSession.IsNtfs = 0;
  Allocation.MftZoneFirstByte = 0;
  Allocation.MftZoneLastByte = 0;
  Use(0, 8);
  Free(101, 3);
  Free(0, 2);  // cluster 0 free: a gap from the very start
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), (std::vector<Gap>{{0, 2}, {101, 3}}));
  EXPECT_EQ(Allocation.SmallGapClusters, 0);
}

TEST_F(FreeSegments, TableGrowsPastItsFirstRoom) {
  Volume(64 * 1024);
  for (int64_t i = 0; i < 1500; ++i) Free(i * 40 + 8, 24);   // closed by full bytes
  for (int64_t i = 0; i < 700; ++i) Free(61000 + i * 4, 2);  // small gaps
  Setup_FREE_Segs();
  ASSERT_EQ(Allocation.FreeCount, 1500);
  EXPECT_EQ(Allocation.FreeStarts(1500), 1499 * 40 + 8);
  EXPECT_EQ(Allocation.SmallGapClusters, 1400);
}

TEST_F(FreeSegments, RandomBitmapsMatchAClusterByClusterReading) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const int64_t total = 3000 + rng() % 5000;
    Volume(total);
    for (int64_t c = 0; c < total;) {
      const int64_t len = 1 + rng() % (rng() % 3 == 0 ? 200 : 20);
      if (rng() % 2) Free(c, std::min(len, total - c));
      c += len;
    }
    const int64_t zs = 64 + rng() % (total / 2), ze = zs + rng() % 300;
    Zone(zs, ze);
    Allocation.AllocationFloor = Long(total / 8);
    Setup_FREE_Segs();
    int64_t small = 0;
    const auto expected = ExpectedGaps(Allocation.VolumeBitmap, total, Allocation.MftZoneFirstByte,
                                       Allocation.MftZoneLastByte, total / 8, small);
    ASSERT_EQ(Listed(), expected) << "total " << total << " zone " << zs << ".." << ze;
    EXPECT_EQ(Allocation.SmallGapClusters, small);
    // Free clusters outside the zone's bytes, counted on their own.
    int64_t free = 0;
    for (int64_t c = 0; c < total; ++c) {
      const int64_t k = c / 8;
      if (k >= Allocation.MftZoneFirstByte && k <= Allocation.MftZoneLastByte) continue;
      free += !((Allocation.VolumeBitmap(k) >> (c % 8)) & 1);
    }
    EXPECT_EQ(Total_Free(), free * 8);
  }
}

TEST_F(FreeSegments, BitmapShorterThanTheVolumeIsARecordedErrorAndNoTable) {
  Volume(4096);
  Free(100, 100);
  VolumeSession.TotalSectors = Long(8192 * 8);  // the bitmap covers half of it
  Setup_FREE_Segs();
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.ErrorWhere, "Setup_FREE_Segs");
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(Allocation.FreeCount, 0);
}

// --- Small and large free space ------------------------------------------------------------

using FreeSpaceFigures = ClusterMapTest;

TEST_F(FreeSpaceFigures, GapOfExactly512KbIsLarge) {
  Volume(8192);
  Free(1000, 128);  // 128 clusters of 4 KB
  Free(3000, 127);
  Setup_FREE_Segs();
  EXPECT_EQ(Total_Free(), 255 * 8);
  EXPECT_EQ(Large_Free(), 128 * 8);
  EXPECT_EQ(Total_Free() - Large_Free(), 127 * 8);
}

TEST_F(FreeSpaceFigures, SmallGapsCountOnlyAsSmallFreeSpace) {
  Volume(8192);
  Free(1001, 9);
  Free(2000, 400);
  Setup_FREE_Segs();
  EXPECT_EQ(Large_Free(), 400 * 8);
  EXPECT_EQ(Total_Free() - Large_Free(), 9 * 8);
}

TEST_F(FreeSpaceFigures, ZoneIsCutOutOfASegmentBeforeItIsWeighed) {
  Volume(8192);
  Allocation.MftZoneStart = 2000;
  Allocation.MftZoneLength = 401;
  // Segments as a table might hold them: one reaching into the zone, one
  // starting inside it.
  Allocation.FreeStarts.ReDim(2);
  Allocation.FreeLengths.ReDim(2);
  Allocation.FreeStarts(1) = 1800;
  Allocation.FreeLengths(1) = 300;  // 200 before the zone
  Allocation.FreeStarts(2) = 2300;
  Allocation.FreeLengths(2) = 230;  // 129 after the zone's end (2401)
  Allocation.FreeCount = 2;
  Allocation.SmallGapClusters = 0;
  EXPECT_EQ(Large_Free(), (200 + 129) * 8);
  Allocation.FreeLengths(2) = 228;  // 127 after: small
  EXPECT_EQ(Large_Free(), 200 * 8);
  VolumeSession.IsNtfs = 0;  // no zone on FAT
  EXPECT_EQ(Large_Free(), (300 + 228) * 8);
}

// --- Counting used clusters ----------------------------------------------------------------

using CountUsed = ClusterMapTest;

TEST_F(CountUsed, CountsBitsOfAnyRangeAlignedOrNot) {
  ByteArray bitmap(63);
  std::mt19937 rng(99);
  for (int64_t i = 0; i <= 63; ++i) bitmap(i) = static_cast<uint8_t>(rng());
  for (int64_t start : {0, 1, 7, 8, 13, 64, 300}) {
    for (int64_t length : {0, 1, 5, 8, 9, 16, 77, 200}) {
      int64_t expected = 0;
      for (int64_t c = start; c < start + length; ++c) expected += (bitmap(c / 8) >> (c % 8)) & 1;
      EXPECT_EQ(Count_Used(bitmap, Long(start), Long(length)), expected) << start << "+" << length;
    }
  }
}

TEST_F(CountUsed, StopsAtTheEndOfTheBitmap) {
  ByteArray bitmap(1);
  bitmap(0) = 0xFF;
  bitmap(1) = 0x0F;
  EXPECT_EQ(Count_Used(bitmap, 4, 100), 4 + 4);
}

TEST_F(CountUsed, MftZoneFreeIsTheZoneLengthLessItsUsedClusters) {
  Volume(8192);
  Zone(2000, 2400);
  Free(2000, 2402);
  Use(2100, 30);
  EXPECT_EQ(Mft_Zone_Free(), 401 - 30);
  EXPECT_EQ(Allocation.MftZoneFree, 401 - 30);
  VolumeSession.IsNtfs = 0;
  EXPECT_EQ(Mft_Zone_Free(), 0);
}

}  // namespace
}  // namespace vr::test
