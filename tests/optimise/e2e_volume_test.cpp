// Whole optimiser runs on NTFS volumes in use (a busy file keeps the volume
// from being locked, so the file system moves the files): Defrag, and Defrag
// then Pack, on clusters of 4 KB and of one sector and on a nearly full
// volume, each judged by independent readers of the result.
#include <gtest/gtest.h>

#include <iostream>

#include "drivers/ntfs/ntfs_driver.h"
#include "optimise/e2e_harness.h"
#include "platform/platform.h"
#include "support/ntfs_workload.h"
#include "support/volume_images.h"

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

// Defrag alone moves the fragmented files and nothing else.
TEST_F(OptimiserVolumeTest, DefragAloneMovesOnlyFragmentedFiles) {
  ASSERT_FALSE(WorkVolume4k().empty());
  const std::string image = CopyImage(WorkVolume4k(), "defrag.img");
  const Before before = TakeBefore(image);
  RunSetup setup;
  setup.defrag = 0;
  const RunOutcome run = RunOptimiser(image, setup);
  ASSERT_FALSE(run.failed) << testing::PrintToString(run.lines);
  const Verdict v = ExpectSoundRun(image, before, run);
  int fragmented = 0;
  const auto after = testsupport::FilesByRecord(v.audit);
  for (const auto& [record, s] : testsupport::FilesByRecord(before.audit)) {
    const bool wasFragmented = !testsupport::Contiguous(s->runs);
    fragmented += wasFragmented && !s->compressed && !s->sparse ? 1 : 0;
    const auto it = after.find(record);
    ASSERT_NE(it, after.end());
    if (!wasFragmented) {
      EXPECT_EQ(it->second->runs.size(), s->runs.size()) << "record " << record << " moved";
      if (!s->runs.empty()) {
        EXPECT_EQ(it->second->runs[0].lcn, s->runs[0].lcn) << record;
      }
    }
  }
  // Every movable fragmented file moved once, into one run: the work files,
  // the three of the fixture (one with an attribute list).
  EXPECT_GE(fragmented, 40);
  EXPECT_EQ(v.movedFiles, v.runsChanged);
  EXPECT_GE(v.movedFiles, fragmented - 1) << "pagefile.sys is busy, the rest can move";
  // The closing count is what is still fragmented.
  int still = 0;
  for (const auto& [record, s] : after) still += testsupport::Contiguous(s->runs) ? 0 : 1;
  EXPECT_EQ(Last(run.lines, "Fragmented files="), std::to_string(still))
      << testing::PrintToString(run.lines);
  std::cout << "4 KB clusters, Defrag: moved " << v.movedFiles << " of " << fragmented
            << " fragmented files; largest free extent outside the MFT zone " << before.free.largest
            << " of " << before.free.free << " clusters before, " << v.free.largest << " of "
            << v.free.free << " after\n";
}

TEST_F(OptimiserVolumeTest, DefragThenPackOnFourKilobyteClusters) {
  ASSERT_FALSE(WorkVolume4k().empty());
  const Verdict v = RunAndJudge(WorkVolume4k(), 1, "4 KB clusters, Defrag then Pack");
  EXPECT_GT(v.movedFiles, 40);
}

TEST_F(OptimiserVolumeTest, DefragThenPackOnClustersOfOneSector) {
  ASSERT_FALSE(WorkVolume512().empty());
  const Verdict v = RunAndJudge(WorkVolume512(), 1, "512-byte clusters, Defrag then Pack");
  EXPECT_GT(v.movedFiles, 40);
}

// Little free space: what finds no room stays where it is, listed; the
// rest still moves and nothing is lost.
TEST_F(OptimiserVolumeTest, DefragThenPackOnANearlyFullVolume) {
  ASSERT_FALSE(NearlyFullVolume().empty());
  const Verdict v = RunAndJudge(NearlyFullVolume(), 1, "nearly full, Defrag then Pack");
  EXPECT_LT(v.free.free, 1000);
  EXPECT_GT(v.movedFiles, 20);
}

// A volume with nothing fragmented: "Moved: None", and no move asked.
TEST_F(OptimiserVolumeTest, NothingFragmentedMovesNothing) {
  std::string error;
  const std::string image = testsupport::TempPath("clean.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(image, 16, 4096, "CLEAN", error)) << error;
  ASSERT_TRUE(testsupport::FillFreeSpace(image, "pagefile.sys", 2000, error)) << error;
  const Before before = TakeBefore(image);
  for (const Integer mode : {0, 1}) {
    SCOPED_TRACE(mode == 0 ? "Defrag" : "Defrag then Pack");
    RunSetup setup;
    setup.defrag = mode;
    const RunOutcome run = RunOptimiser(image, setup);
    EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    EXPECT_TRUE(HasLine(run.lines, "Moved: None")) << testing::PrintToString(run.lines);
    EXPECT_EQ(run.driverMoves, 0u);
    const Verdict v = ExpectSoundRun(image, before, run);
    EXPECT_EQ(v.runsChanged, 0);
  }
}

}  // namespace
}  // namespace vr::e2e
