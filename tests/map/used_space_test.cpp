// Painting what is not free, and every box left unpainted.
#include "map/used_space.h"

#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/paint.h"

namespace vr::test {
namespace {

class UsedSpace : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(100);  // one cluster per box
  }
  void ExpectRange(Long first, Long last, int colour) {
    for (Long c = first; c <= last; ++c) EXPECT_EQ(Stored(c), colour) << "cluster " << c;
  }
};

TEST_F(UsedSpace, BitmapPaintsEverythingBetweenTheFreeSegments) {
  SetFree({{10, 5}, {40, 10}});
  Draw_Bitmap(kColorMoving);
  ExpectRange(0, 9, kColorMoving);
  ExpectRange(10, 14, 0);
  ExpectRange(15, 39, kColorMoving);
  ExpectRange(40, 49, 0);
  ExpectRange(50, 99, kColorMoving);
}

TEST_F(UsedSpace, TouchingFreeSegmentsLeaveNoUsedClusterBetweenThem) {
  // A gap split in two (at the allocation floor) and one at cluster 0.
  SetFree({{0, 10}, {10, 5}, {60, 40}});
  Draw_Bitmap(kColorMoving);
  ExpectRange(0, 14, 0);
  ExpectRange(15, 59, kColorMoving);
  ExpectRange(60, 99, 0);
}

TEST_F(UsedSpace, FullVolumeIsPaintedWhole) {
  SetFree({});
  Draw_Bitmap(kColorMoving);
  ExpectRange(0, 99, kColorMoving);
  EXPECT_EQ(Stored(100), 0);
}

TEST_F(UsedSpace, EmptyColoursFillOnlyUnpaintedBoxesOfTheVolume) {
  Paint_Cluster(3, kColorFile);
  Paint_Cluster(50, kColorFrag);
  canvas.Forget();
  Setup_Empty_Colors();
  EXPECT_EQ(Stored(3), kColorFile);
  EXPECT_EQ(Stored(50), kColorFrag);
  EXPECT_EQ(Stored(0), kColorEmpty);
  EXPECT_EQ(Stored(99), kColorEmpty);
  EXPECT_EQ(Shown(99), kColorEmpty);
  EXPECT_EQ(canvas.blocks.size(), 98u);
  // The element after the volume's last box holds no cluster.
  EXPECT_EQ(Stored(100), 0);
  EXPECT_EQ(Stored(101), 0);
}

}  // namespace
}  // namespace vr::test
