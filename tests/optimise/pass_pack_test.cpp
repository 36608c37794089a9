// The pack round over an in-memory volume in use where no file may move:
// what it collects, the unmovable total below the floor, the packed
// boundary, the cursor past the gaps it will never fill, (The early end after given-up postponed
// moves needs a move: the image test has it.) Any move asked for here would fail the
// test (there is no volume to move on).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "alloc/allocation_state.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_display.h"
#include "optimise/pass_volume.h"
#include "optimise/passes.h"
#include "volume/error_state.h"

namespace vr::testing_passes {
namespace {

class Charts : public OptimiserCharts {
 public:
  void ShowGaps() override { ++gaps; }
  void ShowSizes(Control, const std::string& Title, const std::vector<int64_t>& Bytes) override {
    shown[Title] = Bytes;
  }
  int gaps = 0;
  std::map<std::string, std::vector<int64_t>> shown;
};

class PassPack : public PassVolume {
 protected:
  // 10,000 clusters in use on NTFS, floor at 1,250, all used by a system
  // record but the gaps given (start, length).
  void Layout(const std::vector<std::pair<int64_t, int64_t>>& Gaps) {
    Volume(10000, true);
    Reset_Move_State();
    Allocation.AllocationFloor = 1250;
    Mark(0, 10000, true);
    FirstLcn(3) = 0;
    ClusterCount(3) = 10000;
    FragmentState(3) = 2;
    for (const auto& [start, length] : Gaps) Mark(start, length, false);
    Segments();
    VolumeSession.FreeClusters = 0;
    for (const auto& [start, length] : Gaps)
      VolumeSession.FreeClusters = VolumeSession.FreeClusters + Long(length);
    SetOptimiserCharts(&charts_);
  }
  void TearDown() override {
    SetOptimiserCharts(nullptr);
    PassVolume::TearDown();
  }
  // Record R on clusters already marked used.
  static void Placed(int64_t R, int64_t Lcn, int64_t N, int Fragments = 1) {
    FirstLcn(R) = Long(Lcn);
    ClusterCount(R) = Long(N);
    FragmentState(R) = Integer(Fragments + 1);
  }
  Charts charts_;
};

TEST_F(PassPack, GapsOfFifteenOrLessAreNeverFilledAndTheCursorPassesThem) {
  Layout({{500, 100}, {1250, 30}, {1400, 10}, {1500, 15}, {1600, 16}});
  Placed(11, 100, 50);  // unmovable below the floor
  DoNotMove(11) = 1;
  Placed(12, 300, 20);  // postponed, below the floor
  MoveDelayed(12) = 1;
  Placed(13, 2000, 30);  // unmovable above the floor: not counted
  DoNotMove(13) = 1;
  Placed(14, 5000, 100, 3);  // fragmented, too big for every gap
  Placed(15, 6000, 10);      // exactly the size of a gap of 10
  Placed(16, 7000, 15);      // and of 15
  Placed(17, 1000, 40);      // below the first gap and not fragmented: no candidate
  Long clusters = -1, count = -1;
  RemoveHoles(clusters, count);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorWhere << ": " << ErrorState.ErrorText;
  EXPECT_EQ(ErrorState.Failed, 0);
  EXPECT_EQ(FilesMoved, 0);
  EXPECT_EQ(clusters, 70);
  EXPECT_EQ(count, 2);
  // used = 10000 - 171 free - 0 - 0; end = used + 1250 - 70 > 5000.
  EXPECT_EQ(PackBoundary, 9829 + 1250 - 70 - 982);
  // Gaps 3 and 4 (10 and 15) are done with; gap 5 (16) is not.
  EXPECT_EQ(Allocation.FreeCursor, 5);
  // The candidates chart: the three files above the gap at 1600, in bytes.
  const std::vector<int64_t> shown = charts_.shown["Candidates"];
  EXPECT_EQ(std::multiset<int64_t>(shown.begin(), shown.end()),
            (std::multiset<int64_t>{100 * 4096, 10 * 4096, 15 * 4096}));
  EXPECT_GT(charts_.gaps, 0);
}

TEST_F(PassPack, NothingAboveTheFloorToFill) {
  // Only gaps below the floor or of 16 clusters: no round at all.
  Layout({{500, 100}, {1300, 16}});
  Placed(14, 5000, 100, 3);
  Long clusters = -1, count = -1;
  RemoveHoles(clusters, count);
  EXPECT_EQ(clusters, 0);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(charts_.shown.empty());
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

}  // namespace
}  // namespace vr::testing_passes
