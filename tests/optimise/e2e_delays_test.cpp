// A volume in use and the file system's flush delay: clusters a move
// released stay taken for a while, so moves into them are postponed and
// retried. Sleeping is virtual: the waits advance the platform clock at
// once, and the tests look at what happened, never at how long it took.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>

#include "drivers/ntfs/ntfs_driver.h"
#include "optimise/e2e_harness.h"
#include "platform/platform.h"

namespace vr::e2e {
namespace {

class OptimiserDelayTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetVirtualSleep(true); }
  void TearDown() override {
    platform::ResetPlatform();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
  }

  // Defrag then Pack of a copy of `volume` (the sliding one unless given)
  // with the driver's flush delay set to `delayMs`, judged as every run is.
  RunOutcome RunWithDelay(uint64_t delayMs, Before& before, Verdict& verdict,
                          const std::string& volume = SlidingVolume()) {
    platform::SetNtfsFlushDelay(delayMs);
    const std::string image = CopyImage(volume, "delay.img");
    before = TakeBefore(image);
    const RunOutcome run = RunOptimiser(image, RunSetup{});
    EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    verdict = ExpectSoundRun(image, before, run);
    std::cout << "flush delay " << delayMs << " ms: moved " << verdict.movedFiles
              << ", postponed records " << run.delayedRecords.size() << " (at most "
              << run.maxDelayed << " at once), abandoned at most " << run.maxAbandoned
              << " between re-reads, " << run.finalDelayed << " left\n";
    return run;
  }
};

// Whether the file of `record` lies where it lay before.
bool Unmoved(const Before& before, const Verdict& after, int64_t record) {
  const auto a = testsupport::FilesByRecord(before.audit);
  const auto b = testsupport::FilesByRecord(after.audit);
  if (!a.count(record) || !b.count(record)) return false;
  const auto& x = a.at(record)->runs;
  const auto& y = b.at(record)->runs;
  return x.size() == y.size() && !x.empty() && x[0].lcn == y[0].lcn;
}

// A delay shorter than the engine's retry age: packing slides a file into
// space just released, the move is postponed, WaitForFlush ticks, and the
// retry moves it.
TEST_F(OptimiserDelayTest, PostponedMovesAreRetriedUntilTheyMove) {
  ASSERT_FALSE(SlidingVolume().empty());
  Before before;
  Verdict v;
  const RunOutcome run = RunWithDelay(3000, before, v);
  EXPECT_GT(run.maxDelayed, 0) << "no move was postponed";
  EXPECT_TRUE(run.statusTexts.count("Waiting:") && run.statusTexts.count("Delay:"))
      << "WaitForFlush never showed its ticks";
  EXPECT_EQ(run.maxAbandoned, 0);
  EXPECT_EQ(run.finalDelayed, 0);
  for (const int64_t record : run.delayedRecords)
    EXPECT_FALSE(Unmoved(before, v, record))
        << "record " << record << " was postponed and never moved";
}

// A delay longer than the engine waits for: the retries of the postponed
// move fail, the file stays where it was and is not counted as moved, and
// the run still ends without an error, every file intact. (The run's last
// wait ends twelve ticks after the postponement, one short of the age at
// which the move would be given up: it is left in the list, unmade.)
TEST_F(OptimiserDelayTest, MovesThatStayBlockedAreNotMade) {
  ASSERT_FALSE(SlidingVolume().empty());
  Before before;
  Verdict v;
  const RunOutcome run = RunWithDelay(60000, before, v);
  ASSERT_GT(run.maxDelayed, 0) << "no move was postponed";
  EXPECT_TRUE(run.statusTexts.count("Waiting:") && run.statusTexts.count("Delay:"));
  EXPECT_TRUE(run.statusTexts.count("12")) << "WaitForFlush did not tick twelve times";
  for (const int64_t record : run.delayedRecords)
    EXPECT_TRUE(Unmoved(before, v, record)) << "record " << record << " moved into held clusters";
  EXPECT_EQ(v.movedFiles, 1) << "only the first file slides";
}

// A fragmented file whose only target is the region another one left in
// the same defragment pass: its move is postponed. With a short delay the
// retry makes it; with a long one the retries fail, the move is given up
// at the next wait (the list empties) and the file stays, listed.
TEST_F(OptimiserDelayTest, ADefragmentMoveIntoJustFreedSpaceWaitsOrIsGivenUp) {
  ASSERT_FALSE(FollowingVolume().empty());
  for (const uint64_t delayMs : {3000u, 60000u}) {
    SCOPED_TRACE(std::to_string(delayMs) + " ms");
    Before before;
    Verdict v;
    const RunOutcome run = RunWithDelay(delayMs, before, v, FollowingVolume());
    const auto it = before.audit.streams.find("b\\piece file 0001.bin");
    ASSERT_NE(it, before.audit.streams.end());
    const int64_t b = it->second.record;
    EXPECT_EQ(run.delayedRecords, std::set<int64_t>{b}) << "B's move was not the one postponed";
    EXPECT_EQ(run.finalDelayed, 0) << "B's move was neither made nor given up";
    EXPECT_TRUE(run.statusTexts.count("Delay:"));
    const auto after = testsupport::FilesByRecord(v.audit);
    if (delayMs == 3000) {
      EXPECT_FALSE(Unmoved(before, v, b));
      EXPECT_TRUE(testsupport::Contiguous(after.at(b)->runs));
      EXPECT_EQ(v.movedFiles, 2);
    } else {
      EXPECT_TRUE(Unmoved(before, v, b)) << "B moved into clusters the file system held";
      EXPECT_EQ(v.movedFiles, 1);
    }
  }
}

// No delay: nothing is postponed, and the sliding files all move.
TEST_F(OptimiserDelayTest, WithoutADelayNothingIsPostponed) {
  ASSERT_FALSE(SlidingVolume().empty());
  Before before;
  Verdict v;
  const RunOutcome run = RunWithDelay(0, before, v);
  EXPECT_EQ(run.maxDelayed, 0);
  EXPECT_EQ(run.finalDelayed, 0);
  EXPECT_EQ(v.movedFiles, 4);
}

}  // namespace
}  // namespace vr::e2e
