// Whole optimiser runs on NTFS volumes in use (a busy file keeps the volume
// from being locked, so the file system moves the files): Defrag, and Defrag
// then Pack, on clusters of 4 KB and of one sector and on a nearly full
// volume, each judged by independent readers of the result.
#include <gtest/gtest.h>

#include <iostream>

#include "drivers/ntfs/ntfs_driver.h"
#include "optimise/e2e_harness.h"
#include "platform/platform.h"

namespace vr::e2e {
namespace {

class OptimiserVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetVirtualSleep(true); }
  void TearDown() override {
    platform::ResetPlatform();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
  }

  // One run of `defrag` on a copy of `master`, judged; the free space
  // outside the MFT zone before and after goes to the test's output.
  Verdict RunAndJudge(const std::string& master, Integer defrag, const std::string& what) {
    const std::string image = CopyImage(master, "run.img");
    const Before before = TakeBefore(image);
    RunSetup setup;
    setup.defrag = defrag;
    const RunOutcome run = RunOptimiser(image, setup);
    EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    const Verdict v = ExpectSoundRun(image, before, run);
    std::cout << what << ": moved " << v.movedFiles << " files (driver " << run.driverMoves
              << ", runs changed " << v.runsChanged
              << "); largest free extent outside the MFT zone " << before.free.largest << " of "
              << before.free.free << " clusters before, " << v.free.largest << " of " << v.free.free
              << " after\n";
    return v;
  }
};

TEST_F(OptimiserVolumeTest, DefragThenPackOnFourKilobyteClusters) {
  ASSERT_FALSE(WorkVolume4k().empty());
  const Verdict v = RunAndJudge(WorkVolume4k(), 1, "4 KB clusters, Defrag then Pack");
  EXPECT_GT(v.movedFiles, 20);
}

}  // namespace
}  // namespace vr::e2e
