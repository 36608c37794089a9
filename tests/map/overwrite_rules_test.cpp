// Which category may replace which in BoxColors, on NTFS and on FAT.
#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/paint.h"
#include "map/repaint.h"
#include "runtime/run_error.h"

namespace vr::test {
namespace {

constexpr int kAlways[] = {kColorEmpty, kColorMoved, kColorSys, kColorMoving};
constexpr int kOthers[] = {kColorFixed, kColorFile,    kColorBigFile, kColorCmprs,
                           kColorFrag,  kColorPartial, kColorBad};

TEST(OverwriteRules, EmptyMovedSysAndMovingReplaceAnythingOnBothFileSystems) {
  for (int stored = 0; stored < 16; ++stored)
    for (int colour : kAlways) {
      EXPECT_TRUE(Ntfs_May_Overwrite(stored, colour)) << stored << " by " << colour;
      EXPECT_TRUE(Fat_May_Overwrite(stored, colour)) << stored << " by " << colour;
    }
}

TEST(OverwriteRules, NtfsProtectsSysFragAndYellowFromOtherColours) {
  for (int colour : kOthers) {
    EXPECT_FALSE(Ntfs_May_Overwrite(kColorSys, colour)) << colour;
    EXPECT_FALSE(Ntfs_May_Overwrite(kColorFrag, colour)) << colour;
    EXPECT_FALSE(Ntfs_May_Overwrite(kColorYellow, colour)) << colour;
    for (int stored : {0, 2, 5, 6, 7, 9, 11, 13, 15})
      EXPECT_TRUE(Ntfs_May_Overwrite(stored, colour));
  }
}

TEST(OverwriteRules, FatDoesNotProtectSys) {
  for (int colour : kOthers) {
    EXPECT_TRUE(Fat_May_Overwrite(kColorSys, colour)) << colour;
    EXPECT_FALSE(Fat_May_Overwrite(kColorFrag, colour)) << colour;
    EXPECT_FALSE(Fat_May_Overwrite(kColorYellow, colour)) << colour;
  }
}

class PaintClusterTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(1000);  // one cluster per box
  }
};

TEST_F(PaintClusterTest, FragmentedSegmentsNeverCoverSysOrFragOnNtfs) {
  Paint_Cluster(10, kColorSys);
  Paint_Cluster(11, kColorFrag);
  canvas.Forget();
  Paint_Cluster(10, kColorFrag);
  Paint_Cluster(11, kColorFile);
  EXPECT_EQ(Stored(10), kColorSys);
  EXPECT_EQ(Stored(11), kColorFrag);
  EXPECT_TRUE(canvas.blocks.empty());
  Paint_Cluster(11, kColorMoving);
  EXPECT_EQ(Stored(11), kColorMoving);
  EXPECT_EQ(Shown(11), kColorMoving);
}

TEST_F(PaintClusterTest, BlackMarkKeepsTheStoredColourUntilTheRepaint) {
  Paint_Cluster(7, kColorFile);
  Paint_Cluster(7, kColorMarked);
  EXPECT_EQ(Stored(7), kColorFile);
  EXPECT_EQ(Shown(7), kColorMarked);
  NTFS_Repaint();
  EXPECT_EQ(Shown(7), kColorFile);
}

TEST_F(PaintClusterTest, BlackMarkFollowsTheProtectionOfSys) {
  Paint_Cluster(7, kColorSys);
  canvas.Forget();
  Paint_Cluster(7, kColorMarked);
  EXPECT_TRUE(canvas.blocks.empty());
  EXPECT_EQ(Shown(7), kColorSys);
}

TEST_F(PaintClusterTest, FatReplacesSysButNotFrag) {
  FAT_Paint_Cluster(20, kColorSys);
  FAT_Paint_Cluster(20, kColorFile);
  EXPECT_EQ(Stored(20), kColorFile);
  FAT_Paint_Cluster(21, kColorFrag);
  FAT_Paint_Cluster(21, kColorBigFile);
  EXPECT_EQ(Stored(21), kColorFrag);
}

TEST_F(PaintClusterTest, FatHighColourPaintsOnlyUnpaintedBoxes) {
  FAT_Paint_Cluster(30, kColorFile);
  FAT_Paint_Cluster(30, kIntoUnpainted + kColorEmpty);
  FAT_Paint_Cluster(31, kIntoUnpainted + kColorEmpty);
  EXPECT_EQ(Stored(30), kColorFile);
  EXPECT_EQ(Stored(31), kColorEmpty);
  EXPECT_EQ(Shown(31), kColorEmpty);
}

TEST_F(PaintClusterTest, FatStoresColourZero) {
  FAT_Paint_Cluster(40, kColorFile);
  FAT_Paint_Cluster(40, kColorMarked);
  EXPECT_EQ(Stored(40), 0);
  EXPECT_EQ(Shown(40), kColorMarked);
}

TEST_F(PaintClusterTest, ColoursOutsideThePaletteAreRefusedAndChangeNothing) {
  try {
    Paint_Cluster(3, 16);
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_EQ(e.Number(), kErrIllegalCall);
  }
  EXPECT_THROW(FAT_Paint_Cluster(3, 100), RunError);
  EXPECT_THROW(FAT_Paint_Cluster(3, 300), RunError);
  EXPECT_EQ(Stored(3), 0);
  EXPECT_TRUE(canvas.blocks.empty());
}

}  // namespace
}  // namespace vr::test
