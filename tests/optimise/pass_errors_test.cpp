// The error exits of the passes: a run-time error inside a pass is
// recorded with the pass's name (or the place already recorded), counts as
// one error and stops the run.
#include <gtest/gtest.h>

#include "optimise/move_engine.h"
#include "optimise/pass_volume.h"
#include "optimise/passes.h"
#include "volume/error_state.h"

namespace vr::testing_passes {
namespace {

using PassErrors = PassVolume;

TEST_F(PassErrors, ARunTimeErrorEndsThePassWithItsName) {
  // A file table whose delayed-move column is shorter than the others: the
  // candidate walk reads past its end (subscript out of range).
  const auto broken = [this] {
    Volume(4096, true);
    Reset_Move_State();
    Allocation.AllocationFloor = 0;
    File(150, 1000, 40, 3);
    Segments();
    MoveDelayed.ReDim(100);
  };
  broken();
  DeFragment();
  EXPECT_EQ(ErrorState.ErrorWhere, "Defrag");
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_NE(ErrorState.Failed, 0);

  broken();
  Long clusters = 0, count = 0;
  RemoveHoles(clusters, count);
  EXPECT_EQ(ErrorState.ErrorWhere, "RemoveH");
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_NE(ErrorState.Failed, 0);

  // A place and text recorded before stay; the count becomes one.
  broken();
  ErrorState.ErrorWhere = "Drive status";
  ErrorState.ErrorText = "C0000185";
  ErrorState.ErrorCount = 3;
  DeFragment();
  EXPECT_EQ(ErrorState.ErrorWhere, "Drive status");
  EXPECT_EQ(ErrorState.ErrorText, "C0000185");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
}

}  // namespace
}  // namespace vr::testing_passes
