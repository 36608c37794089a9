// The charts in the real main window, off screen: the pie chart in the
// client area and the size charts in the histogram pictures.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "alloc/free_segments.h"
#include "app/charts/chart_canvas.h"
#include "app/charts/size_chart.h"
#include "app/map_picture.h"
#include "app/qt/pictures.h"
#include "app/qt/qt_palette.h"
#include "drivers/builtin_drivers.h"
#include "qt_fixture.h"
#include "support/volume_images.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

using QtChartsTest = QtWindowTest;

TEST_F(QtChartsTest, ThePieIsDrawnUnderTheDriveListAndClearedWithTheText) {
  const std::string image = testsupport::TempPath("qt-pie.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1024, 12, "", "VODUP", error)) << error;
  platform::RegisterBuiltinDrivers();
  platform::SetDriveMap({{'c', image, {}}});
  auto* layer = window->findChild<DrawingLayer*>();
  ASSERT_NE(layer, nullptr);
  ASSERT_EQ(&MainCanvas(), &layer->Chart());
  Form_Load();  // selects drive C: its pie
  const QRect drive = window->ControlWidget(Control::DrvUser)->geometry();
  const QRect map = window->ControlWidget(Control::picMap)->geometry();
  const int cx = drive.left() + 40;
  const int cy = (drive.top() + drive.height() + map.top()) / 2;
  const QImage& drawn = layer->Chart().Image();
  // An empty volume: the free slice, white, fills the pie; its outline is
  // black; outside the ring the layer stays transparent.
  EXPECT_EQ(QColor(drawn.pixel(cx - 20, cy + 20)), QtColour(kBrightWhite));
  EXPECT_EQ(QColor(drawn.pixel(cx, cy - 40)), QtColour(kBlack));
  EXPECT_EQ(qAlpha(drawn.pixel(cx + 60, cy)), 0);
  // The next report clears the drawings with the text.
  Cls_Pos();
  EXPECT_EQ(qAlpha(layer->Chart().Image().pixel(cx, cy - 40)), 0);
}

TEST_F(QtChartsTest, GapsAreChartedInTheirPicture) {
  auto* picture = qobject_cast<PlainPicture*>(window->ControlWidget(Control::PicHistoE));
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(&ChartPicture(Control::PicHistoE), &picture->Chart());
  const Long spc = VolumeSession.SectorsPerCluster;
  VolumeSession.SectorsPerCluster = 1;
  Allocation.FreeLengths.ReDim(1);
  Allocation.FreeStarts.ReDim(1);
  Allocation.FreeLengths(1) = 1;
  Allocation.FreeCursor = 1;
  Allocation.FreeCount = 1;
  Show_Gaps();
  EXPECT_TRUE(window->IsVisible(Control::PicHistoE));
  // The one gap of 512 bytes is a full-height bar in the first class.
  const HistogramLayout l = Histogram_Layout(picture->Chart());
  const QImage& drawn = picture->Chart().Image();
  EXPECT_EQ(QColor(drawn.pixel(l.BarLeft(0) + l.barWidth / 2, l.plotBottom - 2)),
            QtColour(kLightBlue));
  EXPECT_EQ(QColor(drawn.pixel(l.BarLeft(1) + l.barWidth / 2, l.plotBottom - 2)),
            QtColour(kBrightWhite));
  Allocation.FreeLengths.ReDim(0);
  Allocation.FreeStarts.ReDim(0);
  Allocation.FreeCursor = 0;
  Allocation.FreeCount = 0;
  VolumeSession.SectorsPerCluster = spc;
  Clear_Size_Buckets();
}

TEST_F(QtChartsTest, TheFileDistributionStaysInTheMapPictureWhenItIsRedrawn) {
  MapCanvasQt& canvas = window->PicMap()->Canvas();
  ASSERT_EQ(&PicMap(), &canvas);
  Clear_Size_Buckets();
  SizeBuckets(0) = 3;
  Show_File_Distribution();
  // A new size of the picture starts blank; the repaint draws the chart again.
  window->PlaceMap(75 * 6 + 5, 47 * 6 + 15);
  const QImage& drawn = canvas.Image();
  ASSERT_EQ(drawn.width(), 75 * 6 + 5);
  const HistogramLayout l = Histogram_Layout(ChartPicture(Control::picMap));
  EXPECT_EQ(QColor(drawn.pixel(l.BarLeft(0) + l.barWidth / 2, l.plotBottom - 2)),
            QtColour(kLightBlue));
  // The display reset clears the flag and the picture.
  Drive__Click();
  EXPECT_EQ(QColor(drawn.pixel(l.BarLeft(0) + l.barWidth / 2, l.plotBottom - 2)),
            QtColour(kBrightWhite));
  Clear_Size_Buckets();
}

TEST_F(QtChartsTest, AClosedWindowLeavesNoChartBehind) {
  const ChartCanvas* histogram = &ChartPicture(Control::picHistoF);
  const FormCanvas* form = &MainCanvas();
  InstallShell(nullptr);
  window.reset();
  EXPECT_NE(&ChartPicture(Control::picHistoF), histogram);
  EXPECT_NE(&MainCanvas(), form);
  Draw_Histogram(Control::picHistoF, "Fragments");  // draws nothing, and safely
}

}  // namespace
}  // namespace vr::test
