// A volume in use and the file system's flush delay: clusters a move
// released stay taken for a while, so moves into them are postponed and
// retried. Sleeping is virtual: the waits advance the platform clock at
// once, and the tests look at what happened, never at how long it took.
#include <gtest/gtest.h>

#include <iostream>

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

  // Defrag then Pack of a copy of the 4 KB work volume with the driver's
  // flush delay set to `delayMs`, judged as every run is.
  RunOutcome RunWithDelay(uint64_t delayMs, Before& before, Verdict& verdict) {
    platform::SetNtfsFlushDelay(delayMs);
    const std::string image = CopyImage(WorkVolume4k(), "delay.img");
    before = TakeBefore(image);
    const RunOutcome run = RunOptimiser(image, RunSetup{});
    EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    verdict = ExpectSoundRun(image, before, run);
    std::cout << "flush delay " << delayMs << " ms: moved " << verdict.movedFiles
              << ", postponed records " << run.delayedRecords.size() << " (at most "
              << run.maxDelayed << " at once), abandoned at most " << run.maxAbandoned
              << " between re-reads\n";
    return run;
  }
};

// A delay shorter than the engine's retry age: moves into space just
// released are postponed, WaitForFlush ticks, and every postponed file is
// moved by a retry in the end.
TEST_F(OptimiserDelayTest, PostponedMovesAreRetriedUntilTheyMove) {
  ASSERT_FALSE(WorkVolume4k().empty());
  Before before;
  Verdict v;
  const RunOutcome run = RunWithDelay(3000, before, v);
  EXPECT_GT(run.maxDelayed, 0) << "no move was postponed";
  EXPECT_TRUE(run.statusTexts.count("Waiting:") && run.statusTexts.count("Delay:"))
      << "WaitForFlush never showed its ticks";
  EXPECT_EQ(run.maxAbandoned, 0);
  const auto after = testsupport::FilesByRecord(v.audit);
  const auto old = testsupport::FilesByRecord(before.audit);
  for (const int64_t record : run.delayedRecords) {
    ASSERT_TRUE(old.count(record) && after.count(record)) << record;
    const auto& a = old.at(record)->runs;
    const auto& b = after.at(record)->runs;
    EXPECT_FALSE(a.size() == b.size() && !a.empty() && a[0].lcn == b[0].lcn)
        << "record " << record << " was postponed and never moved";
  }
}

// A delay longer than the engine waits for: postponed moves are given up,
// their reservations freed, and the run still ends with every file intact
// and every movable fragmented file in one piece.
TEST_F(OptimiserDelayTest, MovesThatStayBlockedAreAbandoned) {
  ASSERT_FALSE(WorkVolume4k().empty());
  Before before;
  Verdict v;
  const RunOutcome run = RunWithDelay(60000, before, v);
  EXPECT_GT(run.maxDelayed, 0);
  EXPECT_GT(run.maxAbandoned, 0) << "no postponed move was given up";
  EXPECT_TRUE(run.statusTexts.count("Delay:"));
}

// No delay at all: nothing is postponed and nothing waits.
TEST_F(OptimiserDelayTest, WithoutADelayNothingIsPostponed) {
  ASSERT_FALSE(WorkVolume4k().empty());
  Before before;
  Verdict v;
  const RunOutcome run = RunWithDelay(0, before, v);
  EXPECT_EQ(run.maxDelayed, 0);
  EXPECT_EQ(run.maxAbandoned, 0);
  EXPECT_GT(v.movedFiles, 40);
}

}  // namespace
}  // namespace vr::e2e
