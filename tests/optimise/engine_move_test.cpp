// Moves on the mkntfs fixture in use: a fragmented file made one run by
// the file system, a move into clusters a move just freed postponed and
// carried out once the flush delay has passed, the tables, counters and map
// kept in step, and every file intact afterwards.
#include <gtest/gtest.h>

#include "alloc/allocation_state.h"
#include "alloc/reservations.h"
#include "alloc/volume_bitmap.h"
#include "map/map_colors.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/engine_image_harness.h"
#include "volume/error_state.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

using Segments = std::vector<std::pair<int64_t, int64_t>>;  // (lcn, length)

Segments Copy(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  Segments out;
  for (int64_t i = 1; i <= Lengths.UBound(); ++i) out.emplace_back(Lcns(i), Lengths(i));
  return out;
}

// Every listed free segment is free in the bitmap as the engine keeps it.
void ExpectTableAgreesWithBitmap() {
  for (int64_t i = 1; i <= Allocation.FreeCount; ++i)
    EXPECT_EQ(Count_Free(Allocation.FreeStarts(i), Allocation.FreeLengths(i)),
              Allocation.FreeLengths(i))
        << "segment " << i << " at " << Allocation.FreeStarts(i);
}

TEST_F(EngineImageTest, AFragmentedFileBecomesOneRunAndAMoveIntoFreshlyFreedClustersWaits) {
  const Long alpha = Record("frag\\alpha.bin");
  const Long beta = Record("frag\\beta.bin");
  const uint64_t movesBefore = platform::NtfsMovesDone();
  int64_t first = 0, second = 0;
  const std::vector<std::string> lines = Defrag([&] {
    ASSERT_GT(FragmentState(alpha), 2);
    ASSERT_EQ(DoNotMove(alpha), 0);
    const Long fragmented = ntfs::FragmentedFiles;
    ASSERT_GT(fragmented, 2);

    // Defragment alpha.bin: 40 clusters in 40 runs.
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    ASSERT_TRUE(Prepare_File(alpha, lengths, lcns, info));
    ASSERT_NE(info.FileHandle, -1) << "the file stays open for its move";
    ASSERT_EQ(ClusterCount(alpha), 40);
    const Segments old = Copy(lengths, lcns);
    ASSERT_GT(old.size(), 1u);
    Long target = 0;
    const Long k = Avail_Block(40, target, 0);
    ASSERT_NE(k, 0);
    first = target;
    const int64_t segmentStart = Allocation.FreeStarts(k);
    EXPECT_EQ(first, segmentStart) << "above the reserve: at the segment's start";
    EXPECT_GE(first, Allocation.AllocationReserveEnd);
    Long count = ClusterCount(alpha);
    ASSERT_TRUE(Move_File(alpha, lengths, lcns, count, target, info, k));
    EXPECT_EQ(info.FileHandle, -1);
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(FilesMoved, 1);
    EXPECT_EQ(ClustersMoved, 40);
    EXPECT_EQ(platform::NtfsMovesDone() - movesBefore, 1u);
    EXPECT_EQ(FragmentState(alpha), 2);
    EXPECT_EQ(ntfs::FragmentedFiles, fragmented - 1);
    EXPECT_EQ(FirstLcn(alpha), first);
    // The unit left its segment; the bits of the new place are set; the
    // old runs are free space in the program's table at once.
    EXPECT_EQ(SegmentOf(first), 0);
    EXPECT_EQ(SegmentOf(first + 47), 0);
    EXPECT_EQ(Allocation.FreeStarts(SegmentOf(first + 48)), segmentStart + 48);
    EXPECT_EQ(Count_Free(first, 40), 0);
    // Outside the MFT zone the old runs are free space in the table at
    // once; inside it they stay the zone's.
    int zone = 0;
    for (const auto& [lcn, length] : old) {
      EXPECT_EQ(SegmentOf(lcn) != 0, !In_Mft_Zone(Long(lcn))) << lcn;
      zone += In_Mft_Zone(Long(lcn));
    }
    EXPECT_LT(zone, static_cast<int>(old.size()));
    EXPECT_EQ(BoxColors(first / ClustersPerBox), kColorMoved);
    EXPECT_EQ(BoxColors(old.front().first / ClustersPerBox), kColorEmpty);

    // Alpha once more, elsewhere: its first new place is free in the table
    // but the file system holds it until the flush delay has passed.
    ASSERT_TRUE(Prepare_File(alpha, lengths, lcns, info));
    EXPECT_EQ(Copy(lengths, lcns), (Segments{{first, 40}}));
    Long k2 = Avail_Block(40, target, Long(first + 48));
    ASSERT_NE(k2, 0);
    second = target;
    ASSERT_TRUE(Move_File(alpha, lengths, lcns, count, target, info, k2));
    EXPECT_EQ(FilesMoved, 2);
    EXPECT_EQ(FragmentState(alpha), 2);
    EXPECT_EQ(ntfs::FragmentedFiles, fragmented - 1) << "a contiguous file moved: no change";
    const Long freed = SegmentOf(first);
    ASSERT_NE(freed, 0);

    // Beta into that place: postponed, its target reserved, nothing asked
    // of the file system.
    ASSERT_TRUE(Prepare_File(beta, lengths, lcns, info));
    const Segments betaOld = Copy(lengths, lcns);
    target = Long(first);
    count = ClusterCount(beta);
    ASSERT_TRUE(Move_File(beta, lengths, lcns, count, target, info, freed));
    EXPECT_EQ(info.FileHandle, -1);
    EXPECT_EQ(ErrorState.ErrorCount, 0) << "a postponed move is no error";
    EXPECT_EQ(platform::NtfsMovesDone() - movesBefore, 2u);
    EXPECT_EQ(FilesMoved, 2);
    EXPECT_EQ(DelayedCount, 1);
    EXPECT_EQ(DelayedMoves(1).Record, beta);
    EXPECT_EQ(MoveDelayed(beta), 1);
    EXPECT_EQ(FirstLcn(beta), first);
    EXPECT_EQ(SegmentOf(first), 0) << "the target stays reserved";
    EXPECT_GT(FragmentState(beta), 2);
    EXPECT_EQ(BoxColors(betaOld.front().first / ClustersPerBox), kColorFrag);

    // The whole bitmap again: the reservation is no free space.
    Refresh_Bitmap();
    EXPECT_EQ(SegmentOf(first), 0);
    EXPECT_EQ(SegmentOf(first + 39), 0);
    ExpectTableAgreesWithBitmap();

    // The wait: once a second, until the file system has let go.
    window_.texts.clear();
    const uint64_t clock = platform::ClockMs();
    WaitForFlush();
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(DelayedCount, 0);
    EXPECT_EQ(MoveDelayed(beta), 0);
    EXPECT_EQ(FilesMoved, 3);
    EXPECT_EQ(ClustersMoved, 120);
    EXPECT_EQ(platform::NtfsMovesDone() - movesBefore, 3u);
    EXPECT_EQ(FragmentState(beta), 2);
    EXPECT_EQ(ntfs::FragmentedFiles, fragmented - 2);
    EXPECT_GE(platform::ClockMs() - clock, kFlushMs) << "the retry waited for the release";
    EXPECT_NE(std::find(window_.texts.begin(), window_.texts.end(), "10:Waiting:"),
              window_.texts.end());
    EXPECT_NE(std::find(window_.texts.begin(), window_.texts.end(), "22:1"), window_.texts.end());
    // After the success the wait goes on for the file system to release
    // what the moves freed, at most 12 ticks.
    EXPECT_NE(std::find(window_.texts.begin(), window_.texts.end(), "22:12"), window_.texts.end());
    EXPECT_EQ(std::find(window_.texts.begin(), window_.texts.end(), "22:13"), window_.texts.end());
    Refresh_Bitmap();
    ExpectTableAgreesWithBitmap();
    for (const auto& [lcn, length] : betaOld)
      EXPECT_EQ(SegmentOf(lcn) != 0, !In_Mft_Zone(Long(lcn))) << "released " << lcn;
  });
  EXPECT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  ASSERT_GT(second, 0);
  const auto alphaRuns = Runs("frag\\alpha.bin");
  ASSERT_EQ(alphaRuns.size(), 1u);
  EXPECT_EQ(alphaRuns[0].lcn, second);
  const auto betaRuns = Runs("frag\\beta.bin");
  ASSERT_EQ(betaRuns.size(), 1u);
  EXPECT_EQ(betaRuns[0].lcn, first);
  ExpectEveryFileIntact();
}

}  // namespace
}  // namespace vr::test
