// The allocation layer's operations on the free-segment table, the
// reservations and the computed bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/cluster_bitmaps.h"
#include "alloc/cluster_claims.h"
#include "alloc/free_segments.h"
#include "alloc/reservations.h"
#include "runtime/run_error.h"
#include "volume/session.h"

namespace vr {

// The allocation state (the fixture below takes its name).
AllocationStateData& Alloc() { return Allocation; }

namespace {

using Runs = std::vector<std::pair<int64_t, int64_t>>;  // (start, length)

class Allocation : public testing::Test {
 protected:
  void SetUp() override {
    Reset_Volume_State();
    VolumeSession.IsNtfs = -1;
    Table({});
  }
  void TearDown() override { Reset_Volume_State(); }
  // The table holds exactly `runs`, with no spare room.
  static void Table(const Runs& runs) {
    const int64_t n = static_cast<int64_t>(runs.size());
    Alloc().FreeStarts.ReDim(n);
    Alloc().FreeLengths.ReDim(n);
    for (int64_t i = 1; i <= n; ++i) {
      Alloc().FreeStarts(i) = Long(runs[i - 1].first);
      Alloc().FreeLengths(i) = Long(runs[i - 1].second);
    }
    Alloc().FreeCount = Long(n);
    Alloc().FreeCursor = 0;
  }
  static Runs Listed() {
    Runs out;
    for (int64_t i = 1; i <= Alloc().FreeCount; ++i)
      out.emplace_back(Alloc().FreeStarts(i), Alloc().FreeLengths(i));
    return out;
  }
};

TEST_F(Allocation, FreeRunExtendsJoinsOrInsertsInOrder) {
  Table({{10, 5}, {30, 5}, {50, 5}});
  Free_Run(15, 5);  // after the first: extends it upward
  EXPECT_EQ(Listed(), (Runs{{10, 10}, {30, 5}, {50, 5}}));
  Free_Run(20, 10);  // closes the gap: two segments become one
  EXPECT_EQ(Listed(), (Runs{{10, 25}, {50, 5}}));
  Free_Run(45, 5);  // before the last: extends it downward
  EXPECT_EQ(Listed(), (Runs{{10, 25}, {45, 10}}));
  Free_Run(1, 2);  // touches nothing: inserted first, the arrays grow
  Free_Run(70, 3);
  Free_Run(40, 2);
  EXPECT_EQ(Listed(), (Runs{{1, 2}, {10, 25}, {40, 2}, {45, 10}, {70, 3}}));
  EXPECT_GE(Alloc().FreeStarts.UBound(), 103);
  Free_Run(80, 0);  // nothing
  EXPECT_EQ(Alloc().FreeCount, 5);
}

// Disjoint runs freed in any order from an empty table give the table of
// their maximal touching stretches, as a bitmap of the same runs shows.
TEST_F(Allocation, FreeRunInAnyOrderGivesTheMaximalStretches) {
  std::mt19937 random(99);
  for (int round = 0; round < 200; ++round) {
    Table({});
    std::vector<bool> free(3000, false);
    Runs runs;
    for (int64_t c = 0; c < 3000;) {
      const int64_t length = 1 + random() % 20;
      if (random() % 2 == 0 && c + length <= 3000) runs.emplace_back(c, length);
      c += length;
    }
    std::shuffle(runs.begin(), runs.end(), random);
    for (const auto& [start, length] : runs) {
      Free_Run(Long(start), Long(length));
      for (int64_t c = start; c < start + length; ++c) free[c] = true;
    }
    Runs expected;
    for (int64_t c = 0; c < 3000; ++c) {
      if (!free[c]) continue;
      if (c > 0 && free[c - 1]) {
        expected.back().second += 1;
      } else {
        expected.emplace_back(c, 1);
      }
    }
    ASSERT_EQ(Listed(), expected) << round;
  }
}

TEST_F(Allocation, TakingFromASegmentAndSplittingAtTheFloor) {
  Table({{100, 50}});
  TakeFromSegment(1, 100, 20);  // from its start: the segment moves up
  EXPECT_EQ(Listed(), (Runs{{120, 30}}));
  TakeFromSegment(1, 140, 10);  // from its end part: only the length shrinks
  EXPECT_EQ(Listed(), (Runs{{120, 20}}));

  Alloc().AllocationFloor = 1000;
  const FloorSplit across = SplitAtFloor(990, 30);
  ASSERT_EQ(across.parts, 2);
  EXPECT_EQ(across.starts[0], 990);
  EXPECT_EQ(across.lengths[0], 10);
  EXPECT_EQ(across.starts[1], 1000);
  EXPECT_EQ(across.lengths[1], 20);
  for (const auto& [start, length] : Runs{{1000, 30}, {970, 30}, {2000, 5}}) {
    const FloorSplit one = SplitAtFloor(Long(start), Long(length));
    EXPECT_EQ(one.parts, 1) << start;
    EXPECT_EQ(one.starts[0], start);
    EXPECT_EQ(one.lengths[0], length);
  }
}

TEST_F(Allocation, MftZoneIsAReservationCutOutOfReleasedRuns) {
  Alloc().MftZoneStart = 1000;
  Alloc().MftZoneLength = 200;  // clusters 1000 .. 1199
  EXPECT_FALSE(In_Mft_Zone(999));
  EXPECT_TRUE(In_Mft_Zone(1000));
  EXPECT_TRUE(In_Mft_Zone(1199));
  EXPECT_FALSE(In_Mft_Zone(1200));
  const std::vector<std::pair<Runs, Runs>> cases{
      {{{900, 50}}, {{900, 50}}},     // below the zone
      {{{950, 100}}, {{950, 50}}},    // into it: up to its start
      {{{1100, 150}}, {{1200, 50}}},  // out of it: from its end
      {{{1050, 100}}, {{1200, 0}}},   // inside: nothing left
      {{{1300, 10}}, {{1300, 10}}}};  // above it
  for (const auto& [in, out] : cases) {
    Long start = Long(in[0].first), length = Long(in[0].second);
    Cut_Mft_Zone(start, length);
    EXPECT_EQ(length, out[0].second) << in[0].first;
    if (length > 0) {
      EXPECT_EQ(start, out[0].first) << in[0].first;
    }
  }
  VolumeSession.IsNtfs = 0;  // FAT has no zone
  EXPECT_FALSE(In_Mft_Zone(1100));
}

TEST_F(Allocation, DelayedReleasesAreFreedOnlyWhenReleased) {
  Alloc().MftZoneStart = 1000;
  Alloc().MftZoneLength = 200;
  Table({{500, 10}});
  Delay_Release(510, 20);
  Delay_Release(1150, 100);  // half in the zone
  EXPECT_EQ(Delayed_Clusters(), 120);
  EXPECT_EQ(Listed(), (Runs{{500, 10}}));  // held back: not free yet
  Release_Delayed();
  EXPECT_EQ(Listed(), (Runs{{500, 30}, {1200, 50}}));
  EXPECT_EQ(Delayed_Clusters(), 0);
  Release_Delayed();  // nothing twice
  EXPECT_EQ(Listed(), (Runs{{500, 30}, {1200, 50}}));
}

TEST_F(Allocation, SegmentsOfARecordAreMarkedInTheComputedBitmap) {
  Alloc().ComputedBitmap.ReDim(15);  // 128 clusters
  VbArray<Long> lengths(2), lcns(2);
  lengths(1) = 16;
  lcns(1) = 5;
  lengths(2) = 3;
  lcns(2) = 100;
  Mark_Segments_Used(lengths, lcns);
  EXPECT_EQ(Alloc().ComputedBitmap(0), 0xE0);
  EXPECT_EQ(Alloc().ComputedBitmap(1), 0xFF);
  EXPECT_EQ(Alloc().ComputedBitmap(2), 0x1F);
  EXPECT_EQ(Alloc().ComputedBitmap(12), 0x70);
  EXPECT_EQ(Count_Used(Alloc().ComputedBitmap, 0, 128), 19);
  // Claimed again: the first cluster claimed twice is the answer.
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), 5);
  // A segment past the bitmap is reported for the scan to record.
  lcns(2) = 126;
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), 5);
  Alloc().ComputedBitmap.ReDim(15);
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), kClaimOutside);
  // Shared, an unsized bitmap is left alone; a sized one still serves the
  // cross-link test, and a run beyond it is not reported.
  VolumeSession.SharedMode = -1;
  Alloc().ComputedBitmap.ReDim(0);
  lcns(2) = 100;
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), kClaimFree);
  EXPECT_EQ(Alloc().ComputedBitmap(0), 0);
  Alloc().ComputedBitmap.ReDim(15);
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), kClaimFree);
  EXPECT_EQ(Count_Used(Alloc().ComputedBitmap, 0, 128), 19);
  lcns(2) = 126;
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), 5);
}

}  // namespace
}  // namespace vr
