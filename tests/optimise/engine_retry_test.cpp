// Postponed moves on the mkntfs fixture in use, with a flush delay longer
// than any wait of the engine: a retry 12 seconds after the postponement
// gives the move up and frees its reservation, one at 11 seconds keeps it;
// WaitForFlush with a hopeless entry ends after 12 ticks; the delay of a
// file that may no longer move is cancelled and its reservation freed, once.
#include <gtest/gtest.h>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/engine_image_harness.h"
#include "runtime/format.h"
#include "volume/error_state.h"

namespace vr::test {
namespace {

// Moves record R from where it is to the first place Avail_Block gives;
// the target.
int64_t MoveOnce(Long R) {
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  EXPECT_TRUE(Prepare_File(R, lengths, lcns, info));
  Long target = 0;
  const Long k = Avail_Block(ClusterCount(R), target, 0);
  EXPECT_NE(k, 0);
  const int64_t place = target;
  Long count = ClusterCount(R);
  EXPECT_TRUE(Move_File(R, lengths, lcns, count, target, info, k));
  return place;
}

// Moves record R to Target, taken from the free segment that holds it.
bool MoveInto(Long R, int64_t Target, Long Segment) {
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  EXPECT_TRUE(Prepare_File(R, lengths, lcns, info));
  Long target(Target);
  Long count = ClusterCount(R);
  const bool moved = Move_File(R, lengths, lcns, count, target, info, Segment);
  EXPECT_EQ(info.FileHandle, -1);
  return moved;
}

TEST_F(EngineImageTest, PostponedMovesAreRetriedGivenUpAndCancelledAsTheyAge) {
  platform::SetNtfsFlushDelay(600000);
  const Long alpha = Record("frag\\alpha.bin");
  const Long beta = Record("frag\\beta.bin");
  const Long report = Record("docs\\report.doc");
  const uint64_t movesBefore = platform::NtfsMovesDone();
  int64_t third = 0;
  const std::vector<std::string> lines = Defrag([&] {
    ASSERT_EQ(DoNotMove(report), 0);
    // Alpha three times: its first two new places are free in the table,
    // and the file system holds them.
    const int64_t first = MoveOnce(alpha);
    const int64_t second = MoveOnce(alpha);
    third = MoveOnce(alpha);
    ASSERT_EQ(FilesMoved, 3);
    ASSERT_NE(SegmentOf(first), 0);
    ASSERT_NE(SegmentOf(second), 0);
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    ASSERT_TRUE(Prepare_File(beta, lengths, lcns, info));
    CloseFileHandle(info);
    int64_t betaLowest = lcns(1);
    for (int64_t i = 2; i <= lcns.UBound(); ++i)
      betaLowest = std::min<int64_t>(betaLowest, lcns(i));

    // Beta into the first place, the report into the second: postponed.
    ASSERT_TRUE(MoveInto(beta, first, SegmentOf(first)));
    ASSERT_TRUE(MoveInto(report, second, SegmentOf(second)));
    ASSERT_EQ(DelayedCount, 2);
    EXPECT_EQ(FilesMoved, 3);
    EXPECT_EQ(SegmentOf(first), 0);
    EXPECT_EQ(SegmentOf(second), 0);
    EXPECT_EQ(FirstLcn(report), second);
    const Long reportCount = ClusterCount(report);
    // A postponed file moves by its retry only, never to a second target.
    Long elsewhere = 0;
    const Long other = Avail_Block(ClusterCount(beta), elsewhere, 0);
    ASSERT_NE(other, 0);
    EXPECT_FALSE(MoveInto(beta, elsewhere, other));
    EXPECT_EQ(DelayedCount, 2);
    EXPECT_EQ(FirstLcn(beta), first);
    EXPECT_EQ(FilesMoved, 3);

    // Twelve seconds old: given up, its reservation free again, its file
    // known where it still is. Eleven seconds old: kept, and so is the
    // order of the list.
    // (A Single holds the time of day to some milliseconds only.)
    DelayedMoves(1).Time = static_cast<float>(Timer() - 12.05);
    DelayedMoves(2).Time = static_cast<float>(Timer() - 11);
    Retry_Delayed(Timer());
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(AbandonedDelays, 1);
    ASSERT_EQ(DelayedCount, 1);
    EXPECT_EQ(DelayedMoves(1).Record, report);
    EXPECT_EQ(MoveDelayed(beta), 0);
    EXPECT_EQ(MoveDelayed(report), 1);
    EXPECT_EQ(FirstLcn(beta), betaLowest);
    const Long freed = SegmentOf(first);
    ASSERT_NE(freed, 0);
    EXPECT_GE(int64_t{Allocation.FreeStarts(freed).Value()} + Allocation.FreeLengths(freed).Value(),
              first + 40);
    EXPECT_EQ(SegmentOf(second), 0);
    EXPECT_EQ(FilesMoved, 3);
    EXPECT_EQ(platform::NtfsMovesDone() - movesBefore, 3u) << "no request for an unreleased target";

    // A fresh entry that can never move: twelve ticks of one second, the
    // entry still waiting (it is 11 seconds old at the last try).
    DelayedMoves(1).Time = static_cast<float>(Timer());
    window_.texts.clear();
    const uint64_t clock = platform::ClockMs();
    WaitForFlush();
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    // The platform clock also runs with the test's own time: twelve ticks,
    // not thirteen.
    EXPECT_GE(platform::ClockMs() - clock, 12000u);
    EXPECT_LT(platform::ClockMs() - clock, 13000u);
    const auto shown = [&](const std::string& text) {
      return std::find(window_.texts.begin(), window_.texts.end(), text) != window_.texts.end();
    };
    EXPECT_TRUE(shown("10:Waiting:"));
    EXPECT_TRUE(shown("22:Delay:"));
    EXPECT_TRUE(shown("22:12"));
    EXPECT_FALSE(shown("22:13"));
    EXPECT_EQ(DelayedCount, 1);
    EXPECT_EQ(AbandonedDelays, 1);

    // The whole bitmap again keeps the reservation out of the table.
    Refresh_Bitmap();
    EXPECT_EQ(AbandonedDelays, 0);
    EXPECT_EQ(SegmentOf(second), 0);
    EXPECT_EQ(SegmentOf(second + reportCount - 1), 0);

    // A postponed file that may no longer move: its retry cancels the
    // delay, and the reservation is free space again.
    DoNotMove(report) = 1;
    Retry_Delayed(Timer() + 8);
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(DelayedCount, 0);
    EXPECT_EQ(MoveDelayed(report), 0);
    const Long back = SegmentOf(second);
    ASSERT_NE(back, 0);
    const Long backLength = Allocation.FreeLengths(back), segments = Allocation.FreeCount;
    // Cancelling what is no longer postponed frees nothing twice.
    Cancel_Delay(report);
    EXPECT_EQ(Allocation.FreeCount, segments);
    EXPECT_EQ(Allocation.FreeLengths(back), backLength);
    // And an empty list is no wait at all.
    window_.texts.clear();
    const uint64_t idle = platform::ClockMs();
    WaitForFlush();
    EXPECT_LT(platform::ClockMs() - idle, 1000u) << "no tick was slept";
    EXPECT_TRUE(window_.texts.empty());
  });
  EXPECT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  const auto alphaRuns = Runs("frag\\alpha.bin");
  ASSERT_EQ(alphaRuns.size(), 1u);
  EXPECT_EQ(alphaRuns[0].lcn, third);
  EXPECT_EQ(Runs("frag\\beta.bin").size(), 40u) << "beta never moved";
  ExpectEveryFileIntact();
}

}  // namespace
}  // namespace vr::test
