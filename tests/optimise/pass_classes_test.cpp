// The pack pass's choice of files over an in-memory volume: size classes
// and their lists, the free-neighbour count, the best fit with its rounding,
// tie-break, boundary and walk limits, the shift of the file after a gap,
// and the packed boundary.
#include <gtest/gtest.h>

#include <vector>

#include "optimise/pass_volume.h"
#include "optimise/passes.h"

namespace vr::testing_passes {
namespace {

using PassClasses = PassVolume;

// The records of a class list, head first.
std::vector<int32_t> ClassRecords(const PackClasses& Classes, const std::vector<Candidate>& List,
                                  int Class) {
  std::vector<int32_t> out;
  for (Long k = Classes.ClassHead[Class]; k != 0;
       k = Classes.NextCandidate[static_cast<size_t>(k.Value())])
    out.push_back(List[static_cast<size_t>(k.Value() - 1)].Record);
  return out;
}

// The candidates and their class lists.
struct Classified {
  std::vector<Candidate> list;
  PackClasses classes;
};
Classified Classify(std::vector<Candidate> List) {
  Classified c{std::move(List), {}};
  Build_Classes(c.classes, c.list);
  return c;
}

TEST_F(PassClasses, SizeClassesAndListsFromTheHighestLcnDown) {
  Volume(1 << 20, false);
  PackClasses classes;
  std::vector<Candidate> none;
  Build_Classes(classes, none);
  EXPECT_EQ(classes.ClassSize[1], 1);
  EXPECT_EQ(classes.ClassSize[64], 64);
  EXPECT_EQ(classes.ClassSize[65], 128);
  EXPECT_EQ(classes.ClassSize[66], 256);
  EXPECT_EQ(classes.ClassSize[82], 1 << 24);
  const std::vector<std::pair<int64_t, int>> sizes = {
      {1, 1},          {5, 5},    {64, 64},  {65, 65},      {128, 65},
      {129, 66},       {256, 66}, {257, 67}, {1 << 24, 82}, {(1 << 24) + 1, 83},
      {2147483647, 83}};
  for (const auto& [n, c] : sizes) EXPECT_EQ(Size_Class(classes, Long(n)), c) << n;

  // Files of 5, 100, 5, 5 and 100 clusters at rising LCNs, numbered out of
  // disk order.
  File(20, 1000, 5);
  File(14, 2000, 100);
  File(30, 3000, 5);
  File(12, 4000, 5);
  File(40, 5000, 100);
  const std::vector<Candidate> list = Candidates();
  Build_Classes(classes, list);
  EXPECT_EQ(ClassRecords(classes, list, 5), (std::vector<int32_t>{12, 30, 20}));
  EXPECT_EQ(ClassRecords(classes, list, 65), (std::vector<int32_t>{40, 14}));
  EXPECT_TRUE(ClassRecords(classes, list, 6).empty());
  EXPECT_EQ(classes.NextCandidate.size(), list.size() + 1);
}

TEST_F(PassClasses, QCountsTheFreeNeighboursInsideTheVolume) {
  Volume(64, false);
  File(11, 10, 5);  // 9 and 15 free
  EXPECT_EQ(Q(10, 5), 2);
  File(12, 15, 3);  // 9 free, 18 free
  EXPECT_EQ(Q(10, 5), 1);
  File(13, 5, 5);  // 4 free, 10 used
  EXPECT_EQ(Q(5, 5), 1);
  File(14, 9, 1);
  EXPECT_EQ(Q(10, 5), 0);
  // Before cluster 0 and after the last cluster nothing is free.
  EXPECT_EQ(Q(0, 2), 1);
  EXPECT_EQ(Q(60, 4), 1);
  EXPECT_EQ(Q(0, 64), 0);
}

TEST_F(PassClasses, BestFitExactOrLargestAndTakesTheFileOffItsList) {
  Volume(4096, false, false);  // FAT: no rounding
  File(11, 1000, 5);
  File(12, 1100, 3);
  File(13, 1200, 4);
  File(14, 1300, 5);
  auto [list, classes] = Classify(Candidates());
  // A gap of 5: exactly 5 clusters, the highest one first.
  EXPECT_EQ(Best_Fit(5, 100, classes, list, true), 14);
  EXPECT_EQ(Best_Fit(5, 100, classes, list, true), 11);
  EXPECT_EQ(Best_Fit(5, 100, classes, list, true), 0);  // no 5 left, 4 is not exact
  EXPECT_EQ(Best_Fit(5, 100, classes, list, false), 13);
  EXPECT_EQ(Best_Fit(5, 100, classes, list, false), 12);
  EXPECT_EQ(Best_Fit(5, 100, classes, list, false), 0);
  EXPECT_EQ(Best_Fit(2, 100, classes, list, false), 0);
}

TEST_F(PassClasses, BestFitOnAVolumeInUseRoundsToSixteen) {
  Volume(4096, true);
  File(11, 1000, 1);
  File(12, 1100, 32);
  File(13, 1200, 33);
  File(14, 1300, 16);
  auto [list, classes] = Classify(Candidates());
  // Less than 16 clusters: never a file, even one of a single cluster.
  EXPECT_EQ(Best_Fit(15, 100, classes, list, false), 0);
  EXPECT_EQ(Best_Fit(1, 100, classes, list, false), 0);
  // 47 is used as 32: a file of 33 never goes there, one of 32 exactly.
  EXPECT_EQ(Best_Fit(47, 100, classes, list, true), 12);
  EXPECT_EQ(Best_Fit(47, 100, classes, list, true), 0);
  EXPECT_EQ(Best_Fit(47, 100, classes, list, false), 14);
  EXPECT_EQ(Best_Fit(16, 100, classes, list, false), 11);
  EXPECT_EQ(Best_Fit(48, 100, classes, list, false), 13);
}

TEST_F(PassClasses, BestFitBreaksTiesByFreeNeighbours) {
  Volume(4096, false);
  File(11, 1000, 8);  // both sides free
  File(12, 2000, 8);  // neither side free
  File(13, 1990, 10);
  File(14, 2008, 10);
  File(15, 3000, 8);  // one side free
  File(16, 3008, 1);
  auto [list, classes] = Classify(Candidates());
  // Walked from the highest: 15 (q 1), 12 (q 0, rejected), 11 (q 2).
  EXPECT_EQ(Best_Fit(8, 100, classes, list, true), 11);
  EXPECT_EQ(Best_Fit(8, 100, classes, list, true), 15);
  EXPECT_EQ(Best_Fit(8, 100, classes, list, true), 12);
}

TEST_F(PassClasses, BestFitStopsAtTheBoundaryAndTheGapAndSkipsPinnedFiles) {
  Volume(8192, false);
  File(11, 1000, 6);
  File(12, 2000, 6);
  File(13, 3000, 6);
  auto [list, classes] = Classify(Candidates());
  DoNotMove(13) = 1;
  MoveDelayed(12) = 1;
  EXPECT_EQ(Best_Fit(6, 100, classes, list, true), 11);  // both above are skipped
  Build_Classes(classes, list);
  DoNotMove(13) = 0;
  MoveDelayed(12) = 0;
  // A file at or below PackBoundary stays, and so do all below it.
  PackBoundary = 2000;
  EXPECT_EQ(Best_Fit(6, 100, classes, list, true), 13);
  EXPECT_EQ(Best_Fit(6, 100, classes, list, true), 0);
  // Files at or below the gap are never taken.
  PackBoundary = 0;
  Build_Classes(classes, list);
  EXPECT_EQ(Best_Fit(6, 3000, classes, list, true), 0);
  EXPECT_EQ(Best_Fit(6, 2999, classes, list, true), 13);
  EXPECT_EQ(Best_Fit(6, 1000, classes, list, true), 12);
  EXPECT_EQ(Best_Fit(6, 1000, classes, list, true), 0);
}

TEST_F(PassClasses, BestFitWalkLimits) {
  // Class 65 (65 .. 128 clusters): files growing toward the start of the
  // disk, each one a better choice than the one walked before.
  const auto take_from = [this](int64_t Fragmented) {
    Volume(1 << 16, false);
    ntfs::FragmentedFiles = Long(Fragmented);
    for (int i = 0; i < 6; ++i) {  // no free neighbours: q 0
      File(11 + i, 20000 - 1000 * i, 70 + 10 * i);
      File(100 + i, 20000 - 1000 * i - 1, 1);
      File(150 + i, 20000 - 1000 * i + 70 + 10 * i, 1);
    }
    auto [list, classes] = Classify(Candidates());
    return Best_Fit(128, 100, classes, list, false);
  };
  // Four choices, then the walk stops (the fourth is 100 clusters); with
  // nothing fragmented left it goes on to sixteen.
  EXPECT_EQ(take_from(3), 14);
  EXPECT_EQ(take_from(0), 16);

  // Ten rejections end the walk: one choice, then files no better.
  const auto with_rejections = [this](int Rejected) {
    Volume(1 << 16, false);
    File(11, 30000, 64);  // the first choice (q 1: 30064 used)
    File(12, 30064, 1);
    for (int i = 0; i < Rejected; ++i) {
      File(20 + i, 20000 - 100 * i, 64);
      File(60 + i, 20000 - 100 * i + 64, 1);
      File(100 + i, 20000 - 100 * i - 1, 1);
    }
    File(150, 1000, 64);  // both sides free: better
    auto [list, classes] = Classify(Candidates());
    return Best_Fit(64, 100, classes, list, true);
  };
  EXPECT_EQ(with_rejections(9), 150);
  EXPECT_EQ(with_rejections(10), 11);
}

TEST_F(PassClasses, ShiftFitTakesTheFileRightAfterTheGap) {
  // A gap of GapLength clusters ending at 132, the file after it, one more
  // file up to the next gap at 200 .. 599, then used space to the end.
  const auto setup = [this](bool Shared, int64_t GapLength, int64_t FileClusters) {
    Volume(1024, Shared);
    File(11, 0, 132 - GapLength);
    File(12, 132, FileClusters);
    File(13, 132 + FileClusters, 200 - 132 - FileClusters);
    File(14, 600, 424);
    Segments();
    EXPECT_EQ(Allocation.FreeCount, 2);
    return Candidates();
  };
  std::vector<Candidate> list = setup(false, 32, 30);
  EXPECT_EQ(Shift_Fit(1, list), 12);
  EXPECT_EQ(Shift_Fit(2, list), 0);  // the last gap
  EXPECT_EQ(Shift_Fit(0, list), 0);
  EXPECT_EQ(Shift_Fit(3, list), 0);
  list = setup(false, 32, 33);
  EXPECT_EQ(Shift_Fit(1, list), 0);  // larger than the gap
  list = setup(false, 40, 33);
  EXPECT_EQ(Shift_Fit(1, list), 12);
  // On a volume in use a gap of 40 holds 32.
  list = setup(true, 40, 33);
  EXPECT_EQ(Shift_Fit(1, list), 0);
  list = setup(true, 40, 32);
  EXPECT_EQ(Shift_Fit(1, list), 12);
  list = setup(true, 15, 1);
  EXPECT_EQ(Shift_Fit(1, list), 0);
  // Refused: pinned, delayed, moved since the list was sorted, a system
  // record.
  list = setup(false, 32, 30);
  DoNotMove(12) = 1;
  EXPECT_EQ(Shift_Fit(1, list), 0);
  DoNotMove(12) = 0;
  MoveDelayed(12) = 1;
  EXPECT_EQ(Shift_Fit(1, list), 0);
  MoveDelayed(12) = 0;
  FirstLcn(12) = 500;
  EXPECT_EQ(Shift_Fit(1, list), 0);
  FirstLcn(12) = 132;
  FirstUserRecord = 13;
  EXPECT_EQ(Shift_Fit(1, list), 0);
  FirstUserRecord = 11;
  EXPECT_EQ(Shift_Fit(1, list), 12);
}

TEST_F(PassClasses, ShiftFitWeighsTheRunBeforeTheNextGap) {
  // A gap of GapLength from cluster 1, then a run of 100 used clusters in
  // Files files (the first of 5), then a gap of Next clusters.
  const auto shift = [this](int Files, int64_t GapLength, int64_t Next) {
    Volume(4096, false);
    File(10, 0, 1);
    const int64_t start = 1 + GapLength;
    File(11, start, 5);
    for (int i = 1; i < Files; ++i) {
      const int64_t from = start + 5 + (i - 1) * 95 / (Files - 1);
      const int64_t to = start + 5 + i * 95 / (Files - 1);
      File(11 + i, from, to - from);
    }
    File(100, start + 100 + Next, 4096 - start - 100 - Next);
    Segments();
    EXPECT_EQ(Allocation.FreeCount, 2);
    return Shift_Fit(1, Candidates());
  };
  EXPECT_EQ(shift(2, 10, 500), 11);
  EXPECT_EQ(shift(2, 9, 500), 0);  // the gap is under a tenth of the run
  // Each further file in the run needs another multiple of the run in the
  // next gap: two more files need three times the run.
  EXPECT_EQ(shift(3, 40, 300), 11);
  EXPECT_EQ(shift(3, 40, 299), 0);
  EXPECT_EQ(shift(2, 50, 200), 11);
  EXPECT_EQ(shift(2, 50, 199), 0);
}

TEST_F(PassClasses, PackBoundaryFromTheVolumesUse) {
  Volume(100000, true);
  VolumeSession.FreeClusters = 60000;
  ClusterCount(5) = 1000;  // root folder
  ClusterCount(2) = 4000;  // log file
  Allocation.AllocationFloor = 12500;
  // used = 100000 - 60000 - 1000 - 4000 = 35000; end = 35000 + 12500 - 500.
  EXPECT_EQ(Pack_Boundary(500), 47000 - 3500);
  // Past half the volume the log file counts too.
  VolumeSession.FreeClusters = 40000;  // used 55000, end 67000
  EXPECT_EQ(Pack_Boundary(500), 67000 + 4000 - 5500);
  Allocation.AllocationFloor = 0;
  EXPECT_EQ(Pack_Boundary(0), 55000 + 4000 - 5500);  // end 55000 > 50000
  VolumeSession.IsNtfs = 0;
  EXPECT_EQ(Pack_Boundary(500), 0);
}

}  // namespace
}  // namespace vr::testing_passes
