// Chains walked over tables built in memory: segments, totals, and every
// fault of a damaged table ending in its recorded text.
#include "fat/fat_chain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "fat/fat_table.h"
#include "volume/error_state.h"

namespace vr {
namespace {

class FatChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetErrorState();
    Table(100);
  }
  // A free table for `clusters` data clusters (2 .. clusters + 1).
  void Table(int32_t clusters) {
    MaxCluster = clusters + 1;
    FatTable.ReDim(MaxCluster);
    FatTable(0) = 0xFFF8;
    FatTable(1) = 0xFFFF;
  }
  // Links the clusters given in order and ends the chain with 0xFFFF.
  void Chain(const std::vector<int32_t>& clusters) {
    for (size_t k = 0; k + 1 < clusters.size(); ++k)
      FatTable(clusters[k]) = static_cast<uint16_t>(clusters[k + 1]);
    FatTable(clusters.back()) = 0xFFFF;
  }
  std::vector<std::pair<int32_t, int32_t>> Segments() const {
    std::vector<std::pair<int32_t, int32_t>> s;
    for (int64_t k = 1; k <= lengths.UBound(); ++k) s.emplace_back(starts(k), lengths(k));
    return s;
  }
  Long Walk(Long start) { return FAT_Chain(start, lengths, starts); }

  VbArray<Long> lengths, starts;
};

using Segs = std::vector<std::pair<int32_t, int32_t>>;

TEST_F(FatChainTest, OneClusterFileIsOneSegmentOfOne) {
  Chain({7});
  EXPECT_EQ(Walk(7), 1);
  EXPECT_EQ(Segments(), (Segs{{7, 1}}));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(ErrorState.Failed, 0);
}

TEST_F(FatChainTest, JumpsSplitTheChainIntoSegments) {
  Chain({10, 11, 12, 20, 21});
  EXPECT_EQ(Walk(10), 5);
  EXPECT_EQ(Segments(), (Segs{{10, 3}, {20, 2}}));
  EXPECT_EQ(lengths.UBound(), 2);  // trimmed to the count
  EXPECT_EQ(starts.UBound(), 2);
}

TEST_F(FatChainTest, BackwardJumpsAndTheLastClusterOfTheVolume) {
  Chain({50, 51, 3, 4, 5, 101, 30});
  EXPECT_EQ(Walk(50), 7);
  EXPECT_EQ(Segments(), (Segs{{50, 2}, {3, 3}, {101, 1}, {30, 1}}));
}

TEST_F(FatChainTest, EveryEndMarkEndsTheChain) {
  for (uint16_t mark : {0xFFF8, 0xFFFA, 0xFFFF}) {
    Table(100);
    Chain({5, 6, 40});
    FatTable(40) = mark;
    EXPECT_EQ(Walk(5), 3) << mark;
    EXPECT_EQ(Segments(), (Segs{{5, 2}, {40, 1}}));
  }
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FatChainTest, BadAndReservedMarksEndTheChainWithoutAnError) {
  for (uint16_t mark : {kFatBad, kFatReserved, uint16_t{0xFFF6}}) {
    Table(100);
    Chain({20, 21, 22, 60});
    FatTable(22) = mark;
    EXPECT_EQ(Walk(20), 3) << mark;
    EXPECT_EQ(Segments(), (Segs{{20, 3}}));
  }
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_TRUE(ErrorState.ErrorText.empty());
}

TEST_F(FatChainTest, AFreeFirstEntryIsAnInvalidChainOfNothing) {
  EXPECT_EQ(Walk(9), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Segments(), (Segs{{9, 0}}));
}

TEST_F(FatChainTest, AChainIntoAFreeClusterCountsTheCompletedSegments) {
  Chain({10, 11, 12, 30, 31});
  FatTable(31) = 0;  // 31 is free: the chain runs into it
  EXPECT_EQ(Walk(10), 3);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(Segments(), (Segs{{10, 3}, {30, 0}}));
}

TEST_F(FatChainTest, AClusterPastTheVolumeIsInvalid) {
  Chain({10, 11});
  FatTable(11) = 102;  // MaxCluster is 101
  EXPECT_EQ(Walk(10), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);

  ResetErrorState();
  EXPECT_EQ(Walk(MaxCluster + 1), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");
}

TEST_F(FatChainTest, TheLastClusterOfTheVolumeIsValid) {
  Chain({100, MaxCluster});
  EXPECT_EQ(Walk(100), 2);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FatChainTest, ClustersBelowTwoAreNotDataClusters) {
  // Entry 1 holds an end mark: following a pointer to it must not make the
  // reserved area part of a file.
  Chain({10, 11});
  FatTable(11) = 1;
  EXPECT_EQ(Walk(10), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");

  ResetErrorState();
  EXPECT_EQ(Walk(0), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");
  ResetErrorState();
  EXPECT_EQ(Walk(1), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");
}

TEST_F(FatChainTest, AChainThatLoopsBackIsCaught) {
  Chain({10, 11, 12});
  FatTable(12) = 11;
  EXPECT_EQ(Walk(10), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(FatChainTest, AClusterPointingAtItselfIsCaught) {
  FatTable(40) = 40;
  EXPECT_EQ(Walk(40), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
}

TEST_F(FatChainTest, ALongContiguousLoopEndsAtOnceWithOneError) {
  // Every cluster of a full FAT16 volume in one run that points back to its
  // start: walking it to the segment limits would take billions of steps.
  Table(65000);
  for (int32_t c = 2; c < MaxCluster; ++c) FatTable(c) = static_cast<uint16_t>(c + 1);
  FatTable(MaxCluster) = 2;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Walk(2), 0);
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
}

TEST_F(FatChainTest, ALoopBehindALongTailIsCaught) {
  Table(4000);
  std::vector<int32_t> chain;
  for (int32_t c = 2; c <= 3000; c += 2) chain.push_back(c);  // 1500 segments
  Chain(chain);
  FatTable(3000) = 1000;  // back into the middle of the tail
  EXPECT_EQ(Walk(2), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
}

TEST_F(FatChainTest, SegmentArraysGrowPastTheirFirstHundred) {
  Table(1000);
  std::vector<int32_t> chain;
  for (int32_t c = 2; c <= 1000; c += 3) chain.push_back(c);
  Chain(chain);
  EXPECT_EQ(Walk(2), static_cast<int32_t>(chain.size()));
  ASSERT_EQ(lengths.UBound(), static_cast<int64_t>(chain.size()));
  for (size_t k = 0; k < chain.size(); ++k) {
    EXPECT_EQ(starts(static_cast<int64_t>(k) + 1), chain[k]);
    EXPECT_EQ(lengths(static_cast<int64_t>(k) + 1), 1);
  }
}

// A chain of `segments` one-cluster segments walking down from the top of
// the volume: segments + 1, segments, ..., 2.
int32_t Scattered(int32_t segments) {
  MaxCluster = segments + 1;
  FatTable.ReDim(MaxCluster);
  for (int32_t c = 3; c <= MaxCluster; ++c) FatTable(c) = static_cast<uint16_t>(c - 1);
  FatTable(2) = 0xFFFF;
  return MaxCluster;
}

TEST_F(FatChainTest, ExactlyThirtyTwoThousandSegmentsAreFine) {
  EXPECT_EQ(Walk(Scattered(32000)), 32000);
  EXPECT_EQ(lengths.UBound(), 32000);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FatChainTest, MoreThanThirtyTwoThousandSegmentsAreReportedAndWalkedOn) {
  EXPECT_EQ(Walk(Scattered(32010)), 32010);
  EXPECT_EQ(lengths.UBound(), 32010);
  EXPECT_EQ(ErrorState.ErrorText, "Fragments > 32000.");
  EXPECT_EQ(ErrorState.ErrorCount, 10);  // once for every segment past 32000
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(FatChainTest, PastTheSixteenBitSegmentCounterTheOverflowIsTrapped) {
  EXPECT_EQ(Walk(Scattered(32768)), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Overflow");
  EXPECT_EQ(ErrorState.ErrorWhere, "FAT_Chain");
  EXPECT_EQ(ErrorState.ErrorCount, 768);  // 767 fragment reports and the overflow
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(FatChainTest, ATableShorterThanMaxClusterEndsInARecordedError) {
  MaxCluster = 200;
  FatTable.ReDim(50);
  FatTable(10) = 150;
  EXPECT_EQ(Walk(10), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(ErrorState.ErrorWhere, "FAT_Chain");
}

}  // namespace
}  // namespace vr
