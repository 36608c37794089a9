// Cluster to box: the scale, the last partial box, clusters past the end,
// and where each box lies on the picture.
#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/paint.h"

namespace vr::test {
namespace {

using BoxArithmetic = MapTest;

TEST_F(BoxArithmetic, ClustersFallInBoxesOfClustersPerBox) {
  SizeMap(10000);
  ASSERT_EQ(ClustersPerBox, 3);
  Paint_Cluster(2, kColorFile);
  Paint_Cluster(3, kColorFrag);
  Paint_Cluster(9999, kColorSys);
  EXPECT_EQ(Stored(0), kColorFile);
  EXPECT_EQ(Stored(1), kColorFrag);
  EXPECT_EQ(Stored(3333), kColorSys);
  EXPECT_EQ(BoxOfCluster(9999), 3333);
}

TEST_F(BoxArithmetic, NtfsIgnoresClustersOutsideTheVolumeEvenInTheLastPartialBox) {
  SizeMap(10000);  // box 3333 holds cluster 9999 only
  Paint_Cluster(10000, kColorFile);
  Paint_Cluster(10001, kColorFile);
  Paint_Cluster(-1, kColorFile);
  EXPECT_EQ(Stored(3333), 0);
  EXPECT_EQ(Stored(0), 0);
  EXPECT_TRUE(canvas.blocks.empty());
  EXPECT_EQ(LastVolumeBox(), 3333);
}

TEST_F(BoxArithmetic, ExactMultipleOfTheBoxCountGetsOneMoreClusterPerBox) {
  SizeMap(3525 * 4);
  EXPECT_EQ(ClustersPerBox, 5);
  EXPECT_EQ(BoxColors.UBound(), 3525 * 4 / 5 + 1);
  EXPECT_EQ(LastVolumeBox(), (3525 * 4 - 1) / 5);
}

TEST_F(BoxArithmetic, FatPaintsTheHighestClusterIntoTheLastElement) {
  SizeMap(3524);  // FAT clusters 2 .. 3525
  ASSERT_EQ(ClustersPerBox, 1);
  FAT_Paint_Cluster(3525, kColorFile);
  EXPECT_EQ(Stored(3525), kColorFile);
  FAT_Paint_Cluster(3526, kColorFile);  // beyond the last box: ignored
  FAT_Paint_Cluster(-5, kColorFile);
  EXPECT_EQ(canvas.blocks.size(), 1u);
}

TEST_F(BoxArithmetic, BoxesLieInRowsOfSeventyFiveBelowTheLegend) {
  EXPECT_EQ(BoxLeft(0), 2);
  EXPECT_EQ(BoxTop(0), 12);
  EXPECT_EQ(BoxLeft(74), 74 * 5 + 2);
  EXPECT_EQ(BoxTop(74), 12);
  EXPECT_EQ(BoxLeft(75), 2);
  EXPECT_EQ(BoxTop(75), 17);
  EXPECT_EQ(BoxTop(3524), 46 * 5 + 12);
  EXPECT_EQ(MapWidth(), 380);
  EXPECT_EQ(MapHeight(), 250);
}

TEST_F(BoxArithmetic, LargeFontsGiveFivePixelBoxesWithAPitchOfSix) {
  BoxSize = 5;
  BoxPitch = 6;
  EXPECT_EQ(BoxLeft(76), 6 + 2);
  EXPECT_EQ(BoxTop(76), 6 + 12);
  EXPECT_EQ(MapWidth(), 75 * 6 + 5);
  EXPECT_EQ(MapHeight(), 47 * 6 + 15);
  // The last box ends inside the picture.
  EXPECT_LE(BoxLeft(3524) + BoxSize, MapWidth());
  EXPECT_LE(BoxTop(3524) + BoxSize, MapHeight());
}

}  // namespace
}  // namespace vr::test
