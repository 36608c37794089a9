#include "app/charts/size_chart.h"

#include <algorithm>

#include "alloc/free_segments.h"
#include "runtime/format.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

VbArray<Long> SizeBuckets(kSizeClasses - 1);

void Clear_Size_Buckets() {
  if (SizeBuckets.UBound() != kSizeClasses - 1) SizeBuckets.ReDim(kSizeClasses - 1);
  SizeBuckets.Fill(Long(0));
}

Integer Size_Bucket(int64_t Size, Integer Last) {
  if (Last < 1) return 0;
  int64_t limit = 512;
  int index = 0;
  while (Size > limit) {
    limit *= 2;
    ++index;
    if (index > Last - 1) break;
  }
  return index;
}

Long Nice_Scale(Long& Max, Long& Steps) {
  Long step = 1;
  if (Max >= 10001)
    step = 10000;
  else if (Max > 1000)
    step = 1000;
  else if (Max > 100)
    step = 100;
  else if (Max > 10)
    step = 10;
  if (Max == 0) {
    Steps = 1;
    Max = 1;
  } else {
    Steps = (Max + step - 1) / step;
    Max = step * Steps;
  }
  return step;
}

std::string Size_Class_Label(int k) {
  if (k <= 0) return ".5";
  const int64_t n = int64_t{1} << (k - 1);
  if (n >= 1024) return Str(n / 1024) + "mb";
  return Str(n);
}

HistogramLayout Histogram_Layout(const ChartCanvas& picture) {
  HistogramLayout l;
  l.textHeight = picture.TextHeight();
  l.valueColumn = picture.TextWidth("00000 ");
  const int lastLabel = picture.TextWidth("16mb ");
  l.plotLeft = l.valueColumn;
  l.plotRight = picture.Width() - lastLabel;
  l.plotTop = 3 + l.textHeight + 3;
  l.lowerRow = picture.Height() - l.textHeight - 2;
  l.upperRow = l.lowerRow - l.textHeight;
  l.plotBottom = l.upperRow - 3;
  l.barWidth = std::max(0, (l.plotRight - l.plotLeft - 1) / kSizeClasses);
  return l;
}

namespace {

// The height in pixels of `count` on a plot `height` pixels high whose top
// stands for `max` (max > 0). Worked out in 64 bits: a large count must not
// overflow on its way to a height of at most `height`.
int Scaled(int64_t count, int height, int64_t max) {
  return static_cast<int>(std::clamp<int64_t>(count * height / max, 0, height));
}

}  // namespace

void Draw_Histogram(ChartCanvas& picture, const std::string& Title) {
  const HistogramLayout l = Histogram_Layout(picture);
  const int H = l.textHeight;
  picture.Clear();

  Long total = 0;
  Long max = 0;
  for (int k = 0; k < kSizeClasses; ++k) {
    total += SizeBuckets(k);
    if (SizeBuckets(k) > max) max = SizeBuckets(k);
  }

  const std::string heading = Title + " by filesize in kilobytes  (" + Str(total) + ")";
  picture.DrawText((picture.Width() - picture.TextWidth(heading)) / 2, 3, heading, kBlack);

  Long steps = 0;
  const Long step = Nice_Scale(max, steps);
  const int plotHeight = l.PlotHeight();
  if (plotHeight <= 0 || l.barWidth <= 0) return;  // no room for a plot

  for (int k = 0; k < kSizeClasses; ++k) {
    const int h = Scaled(SizeBuckets(k), plotHeight, max);
    const int colour = kLightBlue + k % 6;
    FillBox(picture, l.BarLeft(k), l.plotBottom - h, std::max(1, l.barWidth - 1), h, colour);

    const std::string label = Size_Class_Label(k);
    const int boundary = l.BarLeft(k) + l.barWidth;
    picture.DrawText(boundary - picture.TextWidth(label) / 2, k % 2 ? l.upperRow : l.lowerRow,
                     label, kBlack);
  }

  for (Long i = 0; i <= steps; ++i) {
    const Long value = i * step;
    const int y = l.plotBottom - Scaled(value, plotHeight, max);
    const std::string text = Str(value);
    picture.DrawText(l.valueColumn - picture.TextWidth(text + " "), y - H / 2, text, kBlack);
    if (value != 0) HLine(picture, l.plotLeft, l.plotRight, y, kBlack);
  }
  FrameBox(picture, l.plotLeft, l.plotTop, l.plotRight, l.plotBottom, kBlack);
}

void Draw_Histogram(Control picture, const std::string& Title) {
  Draw_Histogram(ChartPicture(picture), Title);
}

void Show_Gaps() {
  Clear_Size_Buckets();
  const int64_t spc = VolumeSession.SectorsPerCluster;
  for (int64_t i = std::max<int64_t>(Allocation.FreeCursor, 1); i <= Allocation.FreeCount; ++i) {
    const int64_t sectors = static_cast<int64_t>(Allocation.FreeLengths(i)) * spc;
    const int64_t bytes = sectors >= 4194304 ? int64_t{2147483647} : sectors * 512;
    if (bytes <= 0) continue;
    SizeBuckets(Size_Bucket(bytes, 15)) += 1;
  }
  MainWindow().SetVisible(Control::PicHistoE, true);
  Draw_Histogram(Control::PicHistoE, "Gaps");
}

}  // namespace vr
