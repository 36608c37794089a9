// The size chart: counts per size class (SizeBuckets) drawn as a bar chart
// into one of the main window's pictures, and the chart of the free-space
// gaps the optimisers show while they work.
#pragma once

#include <cstdint>
#include <string>

#include "app/charts/chart_canvas.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Counts per size class, indexes 0..15. Class k (k < 15) holds sizes s with
// 512 x 2^(k-1) < s <= 512 x 2^k bytes (class 0: s <= 512); class 15 holds
// everything above 8 MB.
constexpr int kSizeClasses = 16;
extern VbArray<Long> SizeBuckets;
void Clear_Size_Buckets();

// The class of `Size` bytes among classes 0..Last: sizes above
// 512 x 2^(Last-1) all fall into Last; 0 when Last < 1.
Integer Size_Bucket(int64_t Size, Integer Last);

// The axis step for a chart whose largest value is `Max` (10000, 1000, 100,
// 10 or 1); `Max` becomes a whole number of steps (at least one) and
// `Steps` that number.
Long Nice_Scale(Long& Max, Long& Steps);

// The text under class `k`: ".5", 1, 2, 4 .. 512, then 1mb .. 16mb.
std::string Size_Class_Label(int k);

// The chart's layout in a picture: the plot box (frame included), the two
// rows of class labels and the value column.
struct HistogramLayout {
  int textHeight = 0;
  int valueColumn = 0;  // W0: width of the value labels at the left
  int plotLeft = 0, plotTop = 0, plotRight = 0, plotBottom = 0;
  int upperRow = 0, lowerRow = 0;  // top of the odd and even class labels
  int barWidth = 0;
  int BarLeft(int k) const { return plotLeft + 1 + k * barWidth; }
  int PlotHeight() const { return plotBottom - plotTop; }
};
HistogramLayout Histogram_Layout(const ChartCanvas& picture);

// The bar chart of SizeBuckets with the heading
// Title & " by filesize in kilobytes  (" & total & ")".
void Draw_Histogram(ChartCanvas& picture, const std::string& Title);
void Draw_Histogram(Control picture, const std::string& Title);

// The free segments from FreeCursor to FreeCount counted by size into
// SizeBuckets and shown in `PicHistoE` titled "Gaps".
void Show_Gaps();

}  // namespace vr
