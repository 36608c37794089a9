// The volume handle reopened before each bitmap read, on the mkntfs fixture
// in use: refused at once outside a run; during a run waited for (with the
// window kept working) until the volume is free again, or for 30 seconds
// of the platform's clock, then "ReOpen" / "Drive Busy". And the pack
// pass's step, Moveit, following its gap; the MFT zone painted.
#include <gtest/gtest.h>

#include <functional>

#include "alloc/allocation_state.h"
#include "map/map_colors.h"
#include "optimise/engine_image_harness.h"
#include "platform/nt.h"
#include "volume/error_state.h"
#include "volume/fs_control.h"
#include "volume/recording_window.h"

namespace vr::test {
namespace {

// A main window whose message pump runs a test's step.
class PumpingWindow : public RecordingMainWindow {
 public:
  void DoEvents() override {
    ++pumps;
    if (onPump) onPump();
  }
  std::function<void()> onPump;
  int pumps = 0;
};

TEST_F(EngineImageTest, ReopeningWaitsForTheVolumeDuringARunOnly) {
  const std::vector<std::string> lines = Defrag([&] {
    // The drive goes away for a while (its medium taken out).
    const std::shared_ptr<platform::MemoryDevice> device = device_;
    const auto leave = [] { platform::MapMemoryDrive('n', nullptr); };
    const auto back = [&] { platform::MapMemoryDrive('n', device, {"pagefile.sys"}); };
    leave();
    const uint64_t start = platform::ClockMs();
    EXPECT_FALSE(Reopen_Drive());
    // A wait would sleep 100 ms a try; the clock also runs with the test's
    // own time.
    EXPECT_LT(platform::ClockMs() - start, 100u) << "outside a run: no wait";
    EXPECT_EQ(ErrorState.ErrorWhere, "ReOpen");
    EXPECT_EQ(ErrorState.ErrorText, "Drive Busy");
    EXPECT_NE(ErrorState.Failed, 0);
    EXPECT_EQ(VolumeSession.VolumeHandle, -1);
    ResetErrorState();

    // During a run: the window works while the engine waits, and the
    // volume is opened again once it is back.
    PumpingWindow pumping;
    SetMainWindow(&pumping);
    OptimiserRunning = kTrue;
    bool returned = false;
    pumping.onPump = [&] {
      if (!returned && platform::ClockMs() - start >= 5000) {
        back();
        returned = true;
      }
    };
    window_.texts.clear();
    EXPECT_TRUE(Reopen_Drive());
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_GE(platform::ClockMs() - start, 5000u);
    EXPECT_LT(platform::ClockMs() - start, 6000u);
    EXPECT_GT(pumping.pumps, 10);
    EXPECT_NE(std::find(window_.texts.begin(), window_.texts.end(), "10:Waiting for drive"),
              window_.texts.end());
    ByteArray probe(15);
    EXPECT_GT(Get_Volume_Bitmap(0, 16, probe, 0), 0) << "the new handle works";

    // Gone for good: 30 seconds, then the run stops.
    pumping.onPump = nullptr;
    leave();
    const uint64_t again = platform::ClockMs();
    EXPECT_FALSE(Reopen_Drive());
    EXPECT_GE(platform::ClockMs() - again, 30000u);
    EXPECT_LT(platform::ClockMs() - again, 31000u);
    EXPECT_EQ(ErrorState.ErrorText, "Drive Busy");
    EXPECT_EQ(VolumeSession.VolumeHandle, -1);
    back();
    SetMainWindow(&main_);
  });
  EXPECT_TRUE(Has(lines, "Err=Drive Busy")) << Joined(lines);
  EXPECT_TRUE(Has(lines, "Source=ReOpen")) << Joined(lines);
}

TEST_F(EngineImageTest, MoveitFillsTheGapFromItsStartAndFollowsIt) {
  const Long report = Record("docs\\report.doc");
  Defrag([&] {
    ASSERT_EQ(DoNotMove(report), 0);
    ASSERT_EQ(ClusterCount(report), 13);
    // The first gap above the reserve, as the pack pass would offer it.
    Long k = 1;
    while (k <= Allocation.FreeCount &&
           (Allocation.FreeStarts(k) < Allocation.AllocationReserveEnd ||
            Allocation.FreeLengths(k) < 64))
      k += 1;
    ASSERT_LE(k, Allocation.FreeCount);
    Long gapStart = Allocation.FreeStarts(k);
    Long gapLength = Allocation.FreeLengths(k);
    const Long start = gapStart, length = gapLength;
    const Long segments = Allocation.FreeCount;
    Moveit(k, report, gapLength, gapStart);
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(FilesMoved, 1);
    EXPECT_EQ(FirstLcn(report), start);
    // 13 clusters take a 16-cluster unit from the gap's start; the released
    // place went back to the table, before or after the gap.
    EXPECT_EQ(gapStart, start + 16);
    EXPECT_EQ(gapLength, length - 16);
    EXPECT_EQ(Allocation.FreeStarts(k), gapStart);
    EXPECT_GE(Allocation.FreeCount, segments);
    // The MFT zone on the map, in the "Sys" colour, from its first bitmap
    // byte to its last.
    ASSERT_GT(Allocation.MftZoneLength, 0);
    Show_MFT_Zone();
    EXPECT_EQ(BoxColors(Allocation.MftZoneFirstByte * 8 / ClustersPerBox), kColorSys);
    EXPECT_EQ(BoxColors((Allocation.MftZoneLastByte * 8 + 7) / ClustersPerBox), kColorSys);
    // A file that may not move is passed over: nothing changes.
    DoNotMove(report) = 1;
    const Long before = gapStart;
    Moveit(k, report, gapLength, gapStart);
    EXPECT_EQ(gapStart, before);
    EXPECT_EQ(FilesMoved, 1);
  });
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  const auto runs = Runs("docs\\report.doc");
  ASSERT_EQ(runs.size(), 1u);
  ExpectEveryFileIntact();
}

}  // namespace
}  // namespace vr::test
