// Repainting the map from BoxColors.
#include "map/repaint.h"

#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/paint.h"

namespace vr::test {
namespace {

class RepaintTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(10000);  // three clusters per box
    Paint_Cluster(0, kColorSys);
    Paint_Cluster(300, kColorFrag);
    Paint_Cluster(301, kColorFrag);  // same box: one paint
    Paint_Cluster(9999, kColorEmpty);
    FAT_Paint_Cluster(6000, kColorBad);
    canvas.Reset(MapWidth(), MapHeight());
  }
};

TEST_F(RepaintTest, EveryPaintedBoxIsDrawnOnceAndOnlyThose) {
  NTFS_Repaint();
  EXPECT_EQ(canvas.blocks.size(), 4u);
  for (Long b : {0, 100, 2000, 3333}) EXPECT_EQ(DrawsOf(b), 1) << b;
  EXPECT_EQ(Shown(0), kColorSys);
  EXPECT_EQ(Shown(100), kColorFrag);
  EXPECT_EQ(Shown(2000), kColorBad);
  EXPECT_EQ(Shown(3333), kColorEmpty);
  EXPECT_EQ(Shown(1), RecordingCanvas::kBlank);
}

TEST_F(RepaintTest, LegendIsDrawnWithoutTouchingTheSwatchStrip) {
  SwatchStrip(5 * kColorSys + 1) = 3;  // a strip that differs from the legend
  NTFS_Repaint();
  EXPECT_EQ(canvas.Words().front(), "Sys");
  EXPECT_EQ(SwatchStrip(5 * kColorSys + 1), 3);
  EXPECT_EQ(LegendOnly, 0);
}

TEST_F(RepaintTest, FatRepaintDrawsTheFatLegend) {
  CheckedScan = 0;
  Fat_RePaint();
  EXPECT_EQ(canvas.Words().front(), "File");
  EXPECT_EQ(canvas.blocks.size(), 4u);
}

TEST_F(RepaintTest, MainWindowRepaintChoosesTheLegendByFileSystemName) {
  VolumeSession.FileSystemName = "FAT";
  Map_Repaint();
  for (const auto& w : canvas.Words()) EXPECT_NE(w, "Cmprs");
  canvas.Forget();
  VolumeSession.FileSystemName = "NTFS";
  Map_Repaint();
  EXPECT_EQ(canvas.Words()[4], "Cmprs");
  EXPECT_EQ(canvas.blocks.size(), 4u);
}

TEST_F(RepaintTest, PlaceholderBetweenCommandsDrawsNothing) {
  BoxColors.ReDim(0);
  NTFS_Repaint();
  EXPECT_TRUE(canvas.texts.empty());
  EXPECT_TRUE(canvas.blocks.empty());
  Map_Repaint();  // the main window still clears its picture
  EXPECT_EQ(canvas.clears, 1);
  EXPECT_TRUE(canvas.texts.empty());
}

}  // namespace
}  // namespace vr::test
