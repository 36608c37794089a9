// The size chart: size classes, the axis scale, the bar chart as drawn into
// a picture, and the chart of the free-space gaps.
#include "app/charts/size_chart.h"

#include <gtest/gtest.h>

#include "alloc/free_segments.h"
#include "recording_chart.h"
#include "volume/recording_window.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

TEST(SizeBucket, ClassBoundariesAreInclusiveUpperLimits) {
  struct Case {
    int64_t size;
    int last, bucket;
  };
  const Case cases[] = {
      {0, 15, 0},        {512, 15, 0},         {513, 15, 1},       {1024, 15, 1},
      {1025, 15, 2},     {4194304, 15, 13},    {4194305, 15, 14},  {8388608, 15, 14},
      {8388609, 15, 15}, {2147483647, 15, 15}, {-7, 15, 0},        {1000000, 0, 0},
      {1000000, -3, 0},  {512, 1, 0},          {513, 1, 1},        {1000000000, 1, 1},
      {2048, 3, 2},      {2049, 3, 3},         {1000000000, 3, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Size_Bucket(c.size, c.last), c.bucket) << c.size << " last " << c.last;
}

TEST(NiceScale, StepsAreWholePowersOfTenUpToTenThousand) {
  struct Case {
    int max, step, steps, newMax;
  };
  const Case cases[] = {{0, 1, 1, 1},
                        {1, 1, 1, 1},
                        {7, 1, 7, 7},
                        {10, 1, 10, 10},
                        {11, 10, 2, 20},
                        {100, 10, 10, 100},
                        {101, 100, 2, 200},
                        {1000, 100, 10, 1000},
                        {1001, 1000, 2, 2000},
                        {10000, 1000, 10, 10000},
                        {10001, 10000, 2, 20000},
                        {123456, 10000, 13, 130000}};
  for (const Case& c : cases) {
    Long max = c.max, steps = 0;
    EXPECT_EQ(Nice_Scale(max, steps), c.step) << c.max;
    EXPECT_EQ(steps, c.steps) << c.max;
    EXPECT_EQ(max, c.newMax) << c.max;
  }
}

TEST(SizeClassLabel, KilobytesThenMegabytes) {
  const char* expected[] = {".5",  "1",   "2",   "4",   "8",   "16",  "32",  "64",
                            "128", "256", "512", "1mb", "2mb", "4mb", "8mb", "16mb"};
  for (int k = 0; k < kSizeClasses; ++k) EXPECT_EQ(Size_Class_Label(k), expected[k]) << k;
}

class HistogramTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear_Size_Buckets(); }
  void TearDown() override { Clear_Size_Buckets(); }
  // Painted height of bar k, measured in the middle of the bar.
  int BarHeight(const RecordingChart& c, const HistogramLayout& l, int k, int colour) {
    return c.CountInColumn(l.BarLeft(k) + l.barWidth / 2, l.plotTop + 1, l.plotBottom - 1, colour);
  }
  RecordingChart picture{400, 250};
};

TEST_F(HistogramTest, BarsAreScaledToTheAxisAndCycleSixColours) {
  SizeBuckets(0) = 5;
  SizeBuckets(3) = 20;
  SizeBuckets(7) = 10;
  SizeBuckets(15) = 13;
  Draw_Histogram(picture, "Fragments");
  const HistogramLayout l = Histogram_Layout(picture);
  ASSERT_GT(l.barWidth, 2);
  const int plot = l.PlotHeight();  // stands for 20 (two steps of 10)
  // The largest class reaches the top of the plot, the others in proportion.
  EXPECT_GE(BarHeight(picture, l, 3, kLightRed), plot - 2);
  EXPECT_NEAR(BarHeight(picture, l, 7, kLightGreen), plot / 2, 2);
  EXPECT_NEAR(BarHeight(picture, l, 0, kLightBlue), plot / 4, 2);
  EXPECT_NEAR(BarHeight(picture, l, 15, kLightRed), plot * 13 / 20, 2);
  // Empty classes draw no bar.
  for (int k : {1, 2, 4, 5, 6, 8, 14}) {
    const int x = l.BarLeft(k) + l.barWidth / 2;
    for (int colour = kLightBlue; colour <= kYellow; ++colour)
      EXPECT_EQ(picture.CountInColumn(x, l.plotTop + 1, l.plotBottom - 1, colour), 0) << k;
  }
  // Colours: 9, 10, 11, 12, 13, 14, then 9 again.
  Clear_Size_Buckets();
  for (int k = 0; k < kSizeClasses; ++k) SizeBuckets(k) = 1;
  Draw_Histogram(picture, "Fragments");
  const int cycle[] = {9, 10, 11, 12, 13, 14};
  for (int k = 0; k < kSizeClasses; ++k)
    EXPECT_EQ(picture.At(l.BarLeft(k) + l.barWidth / 2, l.plotBottom - 2), cycle[k % 6]) << k;
}

TEST_F(HistogramTest, HeadingCarriesTitleAndTotalCentred) {
  SizeBuckets(2) = 30;
  SizeBuckets(9) = 8;
  Draw_Histogram(picture, "Candidates");
  EXPECT_EQ(picture.clears, 1);
  const std::string heading = "Candidates by filesize in kilobytes  (38)";
  const RecordingChart::Text* t = picture.FindText(heading);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->y, 3);
  EXPECT_EQ(t->x, (400 - picture.TextWidth(heading)) / 2);
}

TEST_F(HistogramTest, ClassLabelsAlternateBetweenTwoRowsUnderThePlot) {
  Draw_Histogram(picture, "Gaps");
  const HistogramLayout l = Histogram_Layout(picture);
  EXPECT_EQ(l.upperRow, l.plotBottom + 3);
  EXPECT_EQ(l.lowerRow, l.upperRow + picture.TextHeight());
  EXPECT_LE(l.lowerRow + picture.TextHeight(), picture.Height());
  for (int k = 0; k < kSizeClasses; ++k) {
    const RecordingChart::Text* t = picture.FindText(Size_Class_Label(k));
    ASSERT_NE(t, nullptr) << k;
    EXPECT_EQ(t->y, k % 2 ? l.upperRow : l.lowerRow) << k;
    // Left to right under the bars, and inside the picture.
    const int centre = t->x + picture.TextWidth(t->text) / 2;
    EXPECT_GT(centre, l.BarLeft(k)) << k;
    EXPECT_LE(t->x + picture.TextWidth(t->text), picture.Width()) << k;
  }
}

TEST_F(HistogramTest, ValueLabelsAndGridLinesAtEachStep) {
  SizeBuckets(4) = 25;  // axis 0 .. 30 in steps of 10
  Draw_Histogram(picture, "Gaps");
  const HistogramLayout l = Histogram_Layout(picture);
  const int plot = l.PlotHeight();
  for (int v : {0, 10, 20, 30}) {
    const RecordingChart::Text* t = picture.FindText(std::to_string(v));
    ASSERT_NE(t, nullptr) << v;
    // Right-aligned in the value column, a blank short of the plot.
    EXPECT_EQ(t->x + picture.TextWidth(t->text + " "), l.valueColumn) << v;
    const int y = l.plotBottom - v * plot / 30;
    EXPECT_NEAR(t->y + picture.TextHeight() / 2, y, 1) << v;
    if (v != 0 && v != 30) {
      // A black line across the whole plot, bars included.
      for (int x = l.plotLeft; x <= l.plotRight; ++x)
        ASSERT_EQ(picture.At(x, y), kBlack) << "value " << v << " x " << x;
    }
  }
  EXPECT_EQ(picture.FindText("40"), nullptr);
  // Between grid lines the plot is not black.
  EXPECT_NE(picture.At(l.BarLeft(1) + 3, l.plotBottom - plot / 6), kBlack);
}

TEST_F(HistogramTest, EmptyBucketsDrawAnAxisOfOne) {
  Draw_Histogram(picture, "Gaps");
  EXPECT_NE(picture.FindText("Gaps by filesize in kilobytes  (0)"), nullptr);
  EXPECT_NE(picture.FindText("0"), nullptr);
  EXPECT_NE(picture.FindText("1"), nullptr);  // also the class label of class 1
  const HistogramLayout l = Histogram_Layout(picture);
  for (int k = 0; k < kSizeClasses; ++k)
    EXPECT_EQ(BarHeight(picture, l, k, kLightBlue + k % 6), 0) << k;
}

TEST_F(HistogramTest, LargeCountsScaleWithoutOverflow) {
  // count x plot height leaves the 32-bit range here.
  SizeBuckets(1) = 8000000;
  SizeBuckets(2) = 2000000;
  RecordingChart picture(400, 3000);  // room between the 800 grid lines
  Draw_Histogram(picture, "File distribution");
  const HistogramLayout l = Histogram_Layout(picture);
  EXPECT_NE(picture.FindText("File distribution by filesize in kilobytes  (10000000)"), nullptr);
  // Grid lines every 10000 cover much of the plot; the bars still show
  // between them: class 1 up to the top, class 2 a quarter of the way.
  const int plot = l.PlotHeight();
  const int x1 = l.BarLeft(1) + l.barWidth / 2, x2 = l.BarLeft(2) + l.barWidth / 2;
  EXPECT_GT(picture.CountInColumn(x1, l.plotTop + 1, l.plotTop + plot / 10, kLightGreen), 0);
  EXPECT_GT(picture.CountInColumn(x2, l.plotBottom - plot / 5, l.plotBottom - 1, kLightCyan), 0);
  EXPECT_EQ(picture.CountInColumn(x2, l.plotTop + 1, l.plotBottom - plot / 3, kLightCyan), 0);
}

TEST_F(HistogramTest, ATinyPictureGetsOnlyTheHeading) {
  RecordingChart tiny(60, 20);
  SizeBuckets(0) = 3;
  Draw_Histogram(tiny, "Gaps");
  ASSERT_EQ(tiny.texts.size(), 1u);
  EXPECT_EQ(tiny.texts[0].text, "Gaps by filesize in kilobytes  (3)");
}

class ShowGapsTest : public HistogramTest {
 protected:
  void SetUp() override {
    HistogramTest::SetUp();
    SetMainWindow(&window);
    previous = SetChartPicture(Control::PicHistoE, &picture);
    saved = VolumeSession.SectorsPerCluster;
  }
  void TearDown() override {
    SetChartPicture(Control::PicHistoE, previous);
    SetMainWindow(nullptr);
    VolumeSession.SectorsPerCluster = saved;
    Allocation.FreeLengths.ReDim(0);
    Allocation.FreeStarts.ReDim(0);
    Allocation.FreeCount = 0;
    Allocation.FreeCursor = 0;
    HistogramTest::TearDown();
  }
  RecordingMainWindow window;
  ChartCanvas* previous = nullptr;
  Long saved = 0;
};

TEST_F(ShowGapsTest, CountsTheSegmentsNotYetConsumedByBytes) {
  VolumeSession.SectorsPerCluster = 4;
  const int32_t lengths[] = {0, 1, 0, 2048, 2097152, 1, 3};
  Allocation.FreeLengths.ReDim(6);
  Allocation.FreeStarts.ReDim(6);
  for (int i = 1; i <= 6; ++i) {
    Allocation.FreeLengths(i) = lengths[i];
    Allocation.FreeStarts(i) = 1000 * i;
  }
  Allocation.FreeCursor = 2;
  Allocation.FreeCount = 5;
  SizeBuckets(7) = 99;  // left over from an earlier chart
  Show_Gaps();
  // 0 bytes: skipped; 2048 clusters of 2 KB = 4 MB: class 13; 2^21
  // clusters = 4 GB: counted as 2 GB - 1, class 15; 1 cluster = 2 KB: class 2.
  // The segment before FreeCursor and the one after FreeCount are not counted.
  EXPECT_EQ(SizeBuckets(13), 1);
  EXPECT_EQ(SizeBuckets(15), 1);
  EXPECT_EQ(SizeBuckets(2), 1);
  EXPECT_EQ(SizeBuckets(7), 0);
  Long total = 0;
  for (int k = 0; k < kSizeClasses; ++k) total += SizeBuckets(k);
  EXPECT_EQ(total, 3);
  EXPECT_TRUE(window.IsVisible(Control::PicHistoE));
  EXPECT_NE(picture.FindText("Gaps by filesize in kilobytes  (3)"), nullptr);
}

}  // namespace
}  // namespace vr::test
