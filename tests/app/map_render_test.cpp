// The block map drawn with Qt: box colours, the legend, the picture's size
// and the PNG of the map area.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>
#include <cstdlib>
#include <string>

#include "alloc/allocation_state.h"
#include "app/qt/map_canvas_qt.h"
#include "app/qt/qt_palette.h"
#include "map/legend.h"
#include "map/map_colors.h"
#include "map/map_geometry.h"
#include "map/paint.h"
#include "map/swatches.h"
#include "qt_app.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

class MapRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    Reset_Volume_State();
    LegendOnly = 0;
    VolumeSession.FileSystemName = "NTFS";
    VolumeSession.TotalClusters = 10000;
    ClustersPerBox = 10000 / 3525 + 1;
    BoxColors.ReDim(10000 / ClustersPerBox + 1);
    Create_Swatches();
    // Painted headless: no canvas is installed.
    Paint_Cluster(0, kColorSys);
    Paint_Cluster(3 * 80, kColorFrag);
    Paint_Cluster(3 * 1000, kColorFixed);
    Paint_Cluster(9999, kColorEmpty);
  }
  void TearDown() override {
    BoxColors.ReDim(0);
    ClustersPerBox = 1;
  }
  static QRgb Rgb(int colour) { return QtColour(colour).rgb(); }
  // Both tones of box b's checker.
  static void ExpectBox(const QImage& image, Long b, int colour) {
    const int x = BoxLeft(b), y = BoxTop(b);
    EXPECT_EQ(image.pixel(x + 1, y), Rgb(colour)) << "box " << b;
    EXPECT_EQ(image.pixel(x, y), Rgb(colour | 8)) << "box " << b;
    EXPECT_EQ(image.pixel(x + 3, y + 3), Rgb(colour | 8)) << "box " << b;
  }
};

TEST_F(MapRenderTest, PaintedBoxesShowTheirColoursAndTheRestStaysBlank) {
  const QImage image = Render_Map_Image();
  ASSERT_EQ(image.width(), 380);
  ASSERT_EQ(image.height(), 250);
  ExpectBox(image, 0, kColorSys);
  ExpectBox(image, 80, kColorFrag);
  ExpectBox(image, 1000, kColorFixed);
  ExpectBox(image, 3333, kColorEmpty);
  const QRgb blank = qRgb(255, 255, 255);
  EXPECT_EQ(image.pixel(BoxLeft(1) + 1, BoxTop(1)), blank);  // unpainted box
  EXPECT_EQ(image.pixel(BoxLeft(0) + 4, BoxTop(0)), blank);  // gap between boxes
}

TEST_F(MapRenderTest, LegendSwatchesAndWordsAreDrawn) {
  const QImage image = Render_Map_Image();
  for (int c : {kColorSys, kColorFixed, kColorFile, kColorFrag, kColorEmpty}) {
    const int x = LegendX(c);
    EXPECT_EQ(image.pixel(x + 1, 3), Rgb(c)) << c;
    EXPECT_EQ(image.pixel(x, 3), Rgb(c | 8)) << c;
  }
  // The word "Sys" lies between its swatch and the next one.
  int dark = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = LegendX(kColorSys) + 5; x < LegendX(kColorFixed); ++x)
      dark += qGray(image.pixel(x, y)) < 128;
  EXPECT_GT(dark, 5);
  EXPECT_GT(LegendX(kColorFixed), LegendX(kColorSys) + 10);
}

// The widest legend, a Defrag's on NTFS: each of its items has a framed,
// visible swatch, and the last word ends inside the picture with a margin,
// at both box sizes.
TEST_F(MapRenderTest, DefragLegendShowsEveryFramedSwatchInsideThePicture) {
  DefragMode = 1;
  for (int box : {4, 5}) {
    BoxSize = box;
    BoxPitch = box + 1;
    const QImage image = Render_Map_Image();
    const QRgb white = qRgb(255, 255, 255);
    int previous = -3;
    for (int c : {kColorSys, kColorFixed, kColorFile, kColorBigFile, kColorCmprs, kColorFrag,
                  kColorMoving, kColorMoved, kColorEmpty, kColorPartial}) {
      const int x = LegendX(c);
      EXPECT_GT(x, previous + 5) << "swatch " << c << " overlaps the item before";
      previous = x;
      EXPECT_EQ(image.pixel(x + 1, 3), Rgb(c)) << c;
      EXPECT_EQ(image.pixel(x, 3), Rgb(c | 8)) << c;
      // The frame: one grey pixel all round, so that even the bright white
      // "Moving" stands out from the picture.
      for (int k = -1; k <= 5; ++k) {
        EXPECT_EQ(image.pixel(x + k, 2), Rgb(kGray)) << c << " top " << k;
        EXPECT_EQ(image.pixel(x + k, 8), Rgb(kGray)) << c << " bottom " << k;
        EXPECT_EQ(image.pixel(x - 1, 3 + k), Rgb(kGray)) << c << " left " << k;
        EXPECT_EQ(image.pixel(x + 5, 3 + k), Rgb(kGray)) << c << " right " << k;
      }
      EXPECT_NE(Rgb(kGray), white);
    }
    // The word "Partial" ends before the right edge, with a margin.
    const MapCanvasQt measure(image.width(), image.height());
    const int end = LegendX(kColorPartial) + 4 + 3 + measure.TextWidth("Partial");
    EXPECT_LE(end + 4, image.width()) << "box size " << box;
    int inked = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = end - 3; x < image.width(); ++x) inked += image.pixel(x, y) != white;
    EXPECT_GT(inked, 0) << "the last word is drawn";
    for (int y = 0; y < 12; ++y)
      for (int x = end + 2; x < image.width(); ++x)
        EXPECT_EQ(image.pixel(x, y), white) << "nothing beyond the last word at " << x;
  }
}

TEST_F(MapRenderTest, LargeFontsGiveTheLargerPicture) {
  BoxSize = 5;
  BoxPitch = 6;
  const QImage image = Render_Map_Image();
  EXPECT_EQ(image.width(), 455);
  EXPECT_EQ(image.height(), 297);
  ExpectBox(image, 80, kColorFrag);
  EXPECT_EQ(image.pixel(BoxLeft(80) + 4, BoxTop(80) + 4), Rgb(kColorFrag | 8));
}

TEST_F(MapRenderTest, RenderingLeavesTheInstalledCanvasInPlace) {
  MapCanvasQt picture(MapWidth(), MapHeight());
  int changes = 0;
  picture.SetOnChange([&] { ++changes; });
  MapCanvas* previous = SetPicMap(&picture);
  Render_Map_Image();
  EXPECT_EQ(&PicMap(), &picture);
  EXPECT_EQ(changes, 0);
  Paint_Cluster(3 * 5, kColorFile);
  EXPECT_GT(changes, 0);
  EXPECT_EQ(picture.Image().pixel(BoxLeft(5) + 1, BoxTop(5)), Rgb(kColorFile));
  SetPicMap(previous);
}

TEST_F(MapRenderTest, PngHoldsTheMapArea) {
  const char* tmp = std::getenv("VODURU_TEST_TMP");
  const QString dir = tmp ? QString::fromUtf8(tmp) : QDir::tempPath();
  QDir().mkpath(dir);
  const std::string file = (dir + "/map_render_test.png").toStdString();
  ASSERT_TRUE(Save_Map_Png(file));
  QImage saved(QString::fromStdString(file));
  ASSERT_FALSE(saved.isNull());
  EXPECT_EQ(saved.size(), QSize(380, 250));
  ExpectBox(saved.convertToFormat(QImage::Format_RGB32), 1000, kColorFixed);
  EXPECT_FALSE(Save_Map_Png("/nonexistent-dir/map.png"));
}

}  // namespace
}  // namespace vr::test
