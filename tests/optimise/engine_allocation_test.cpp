// The move engine's choices over an in-memory volume: where a file goes
// (the 16-cluster rounding on a volume in use, the high end of a segment,
// the NTFS floor and reserve, the retry without a lower bound), what a
// reservation takes from the free-segment table, what a move gives back
// (the MFT zone cut out) and how the bitmap is counted.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/cluster_bitmaps.h"
#include "alloc/free_segments.h"
#include "alloc/reservations.h"
#include "alloc/volume_bitmap.h"
#include "optimise/move_engine.h"
#include "optimise/move_internal.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {
namespace {

using Runs = std::vector<std::pair<int64_t, int64_t>>;  // (start, length)

class EngineAllocation : public testing::Test {
 protected:
  void SetUp() override {
    Reset_Volume_State();
    Reset_Move_State();
    Volume(/*ntfs=*/true, /*shared=*/true);
  }
  void TearDown() override {
    Reset_Volume_State();
    Reset_Move_State();
  }
  // A volume of 8192 clusters of 8 sectors, all free in the bitmap.
  static void Volume(bool ntfs, bool shared) {
    VolumeSession.IsNtfs = Flag(ntfs);
    VolumeSession.SharedMode = Flag(shared);
    VolumeSession.SectorsPerCluster = 8;
    VolumeSession.TotalClusters = 8192;
    VolumeSession.TotalSectors = 8192 * 8;
    Allocation.VolumeBitmap.ReDim(1023);
    Allocation.VolumeBitmapBytes = 1024;
    Allocation.AllocationFloor = 0;
    Allocation.AllocationReserveEnd = 0;
  }
  static void Table(const Runs& runs) {
    Start_Free_Segs(1);
    for (const auto& [start, length] : runs) Append_Free_Seg(Long(start), Long(length), 1);
  }
  static Runs Listed() {
    Runs out;
    for (int64_t i = 1; i <= Allocation.FreeCount; ++i)
      out.emplace_back(Allocation.FreeStarts(i), Allocation.FreeLengths(i));
    return out;
  }
  static bool Used(int64_t c) { return (Allocation.VolumeBitmap(c / 8) >> (c % 8)) & 1; }
  // Where a file of `needed` clusters goes: (segment, target).
  static std::pair<int64_t, int64_t> Place(Long needed, Long lo) {
    Long target = -1;
    const Long k = Avail_Block(needed, target, lo);
    return {k, k == 0 ? -1 : int64_t{target}};
  }
};

TEST_F(EngineAllocation, ShapeOfTheRequestFollowsTheModeAndTheFileSystem) {
  // In use on NTFS the file system allocates in 16-cluster units.
  EXPECT_EQ(Rounded_Clusters(1), 16);
  EXPECT_EQ(Rounded_Clusters(16), 16);
  EXPECT_EQ(Rounded_Clusters(17), 32);
  Table({{100, 10}, {200, 40}});
  // One cluster needs a segment of 16: the 10-cluster one is passed over,
  // and with no lower bound the file goes at the high end of the next.
  EXPECT_EQ(Place(1, 0), std::make_pair(int64_t{2}, int64_t{240 - 16}));
  // Held exclusively, nothing is rounded: the first segment takes it.
  Volume(true, false);
  EXPECT_EQ(Rounded_Clusters(17), 17);
  EXPECT_EQ(Place(1, 0), std::make_pair(int64_t{1}, int64_t{109}));
  // On FAT in use neither: the bound is taken as given.
  Volume(false, true);
  EXPECT_EQ(Rounded_Clusters(17), 17);
  EXPECT_EQ(Place(5, 205), std::make_pair(int64_t{2}, int64_t{235}))
      << "a segment that starts below the bound: the high end";
  EXPECT_EQ(Place(5, 150), std::make_pair(int64_t{2}, int64_t{200}))
      << "one that starts above it: its start";
  EXPECT_EQ(Place(41, 0), std::make_pair(int64_t{0}, int64_t{-1})) << "none long enough";
  EXPECT_EQ(Place(0, 0), std::make_pair(int64_t{0}, int64_t{-1})) << "nothing to place";
}

TEST_F(EngineAllocation, TheNtfsFloorAndReserveReplaceTheLowerBound) {
  Allocation.AllocationFloor = 1000;
  Allocation.AllocationReserveEnd = 1100;
  Table({{500, 100}, {1050, 100}, {1200, 50}, {3000, 500}});
  // Any bound below the reserve's end becomes the reserve's end: the
  // segment across it takes the file at its high end (above the bound).
  EXPECT_EQ(Place(32, 0), std::make_pair(int64_t{2}, int64_t{1150 - 32}));
  EXPECT_EQ(Place(32, 1099), std::make_pair(int64_t{2}, int64_t{1150 - 32}));
  // 64 clusters: 50 above the bound in segment 2, segment 3 too short.
  EXPECT_EQ(Place(64, 0), std::make_pair(int64_t{4}, int64_t{3000}));
  // A bound at or above the reserve's end falls back to the floor, where
  // segment 2 starts above it.
  EXPECT_EQ(Place(32, 1100), std::make_pair(int64_t{2}, int64_t{1050}));
  EXPECT_EQ(Place(32, 5000), std::make_pair(int64_t{2}, int64_t{1050}));
  // Nothing above the bound: once more without one, at the high end of the
  // first segment long enough.
  Table({{10, 500}, {1200, 50}});
  EXPECT_EQ(Place(400, 0), std::make_pair(int64_t{1}, int64_t{510 - 400}));
  EXPECT_EQ(Place(600, 0), std::make_pair(int64_t{0}, int64_t{-1}));
  // A zone above the floor cleared both: the bound 0 stays 0.
  Allocation.AllocationFloor = 0;
  Allocation.AllocationReserveEnd = 0;
  EXPECT_EQ(Place(20, 0), std::make_pair(int64_t{1}, int64_t{510 - 32}));
}

TEST_F(EngineAllocation, AllocateOnlyTakesTheRegionFromItsSegmentAndMarksIt) {
  // In use on NTFS at a segment's high end: the whole 16-cluster unit
  // leaves the segment, so the target is never listed as free.
  Table({{100, 10}, {200, 40}});
  Long target = 0;
  ASSERT_TRUE(Allocate_Only(5, target, 0));
  EXPECT_EQ(target, 224);
  EXPECT_EQ(Listed(), (Runs{{100, 10}, {200, 24}}));
  for (int64_t c = 224; c < 229; ++c) EXPECT_TRUE(Used(c)) << c;
  EXPECT_FALSE(Used(229));
  EXPECT_FALSE(Used(223));
  EXPECT_EQ(Allocation.ChangedFirst, 224);
  EXPECT_EQ(Allocation.ChangedEnd, 229);
  // Held exclusively at a segment's start: exactly the clusters asked for.
  Volume(true, false);
  Allocation.AllocationFloor = 150;
  Allocation.AllocationReserveEnd = 160;
  Table({{100, 10}, {200, 40}});
  ASSERT_TRUE(Allocate_Only(5, target, 0));
  EXPECT_EQ(target, 200);
  EXPECT_EQ(Listed(), (Runs{{100, 10}, {205, 35}}));
  EXPECT_FALSE(Allocate_Only(100, target, 0));
  EXPECT_EQ(Listed(), (Runs{{100, 10}, {205, 35}}));
}

TEST_F(EngineAllocation, ReleasedSegmentsReturnToTheTableWithoutTheMftZone) {
  Allocation.MftZoneStart = 1000;
  Allocation.MftZoneLength = 200;  // clusters 1000 .. 1199
  Table({{800, 50}, {1300, 100}});
  // Marked in use as the file system had them.
  Set_Volume_Bits(850, 150, true);
  Set_Volume_Bits(1100, 200, true);
  VbArray<Long> lengths(3), lcns(3);
  lengths(1) = 100, lcns(1) = 850;   // below the zone: joins 800 .. 849
  lengths(2) = 100, lcns(2) = 950;   // into the zone: only 950 .. 999
  lengths(3) = 200, lcns(3) = 1100;  // from inside the zone: 1200 .. 1299, joins 1300
  Release_Segments(lengths, lcns);
  EXPECT_EQ(Listed(), (Runs{{800, 200}, {1200, 200}}));
  // In use, the file system's bitmap is not the program's to change.
  EXPECT_TRUE(Used(850));
  EXPECT_TRUE(Used(1250));
  // Held exclusively, the bits of every old segment are cleared, the
  // zone's too (the file is gone from there); the table still leaves the
  // zone out.
  VolumeSession.SharedMode = 0;
  Table({});
  Release_Segments(lengths, lcns);
  EXPECT_EQ(Listed(), (Runs{{850, 150}, {1200, 100}}));
  EXPECT_EQ(Count_Used(Allocation.VolumeBitmap, 850, 450), 0);
  // Off NTFS there is no zone.
  Volume(false, false);
  Table({});
  Release_Segments(lengths, lcns);
  EXPECT_EQ(Listed(), (Runs{{850, 200}, {1100, 200}}));
}

TEST_F(EngineAllocation, CountFreeStopsAtTheFirstUsedClusterAndTheVolumeEnd) {
  Set_Volume_Bits(40, 1, true);
  EXPECT_EQ(Count_Free(0, 100), 40);
  EXPECT_EQ(Count_Free(3, 10), 10);
  EXPECT_EQ(Count_Free(40, 5), 0);
  EXPECT_EQ(Count_Free(41, 100), 100);
  EXPECT_EQ(Count_Free(8150, 100), 42) << "the volume ends at 8192";
  VolumeSession.TotalClusters = 8190;
  EXPECT_EQ(Count_Free(8150, 100), 40);
  EXPECT_EQ(Count_Free(-1, 5), 0);
}

TEST_F(EngineAllocation, SmallStateProceduresSayWhatTheyShould) {
  FileNames.ReDim(20);
  ClusterCount.ReDim(20);
  FileNames(12) = "small.txt";
  ClusterCount(12) = 255;  // 2040 sectors: under 1 MB
  EXPECT_EQ(Move_Status_Text(12), "small.txt");
  ClusterCount(12) = 256;  // 2048 sectors
  EXPECT_EQ(Move_Status_Text(12), "small.txt (" + SizeText(2048) + ")");
  WriteStop();
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  EXPECT_NE(ErrorState.Failed, 0);
  EXPECT_NE(ErrorState.ReadFault, 0);
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  // Ages of postponed moves count across midnight; a Timer a little
  // behind the entry's time is no day's wait.
  EXPECT_DOUBLE_EQ(AgeOf(86399.5, 11.5), 12);
  EXPECT_DOUBLE_EQ(AgeOf(100, 108), 8);
  EXPECT_NEAR(AgeOf(100, 99.95), -0.05, 1e-9);
}

TEST_F(EngineAllocation, AVolumeHeldExclusivelyIsNotWrittenYet) {
  Volume(true, false);
  Table({{100, 64}});
  FileNames.ReDim(20);
  FragmentState.ReDim(20);
  ClusterCount.ReDim(20);
  FirstLcn.ReDim(20);
  FragmentState(12) = 3;
  ClusterCount(12) = 8;
  FirstLcn(12) = 500;
  VbArray<Long> lengths(2), lcns(2);
  lengths(1) = 4, lcns(1) = 500;
  lengths(2) = 4, lcns(2) = 600;
  RecordInfo info{};
  info.FileHandle = -1;
  Long count = 8, target = 100;
  EXPECT_FALSE(Move_File(12, lengths, lcns, count, target, info, 1));
  EXPECT_EQ(ErrorState.ErrorText,
            "Moving files on a volume held exclusively is not available yet.");
  EXPECT_EQ(ErrorState.ErrorWhere, "Move_File");
  EXPECT_NE(ErrorState.Failed, 0);
  EXPECT_EQ(FilesMoved, 0);
  EXPECT_EQ(FirstLcn(12), 500);
  EXPECT_EQ(FragmentState(12), 3);
  EXPECT_EQ(Listed(), (Runs{{100, 64}}));
  EXPECT_EQ(Count_Used(Allocation.VolumeBitmap, 0, 8192), 0);
  EXPECT_EQ(Allocation.ChangedEnd, 0) << "nothing to write back";
}

}  // namespace
}  // namespace vr
