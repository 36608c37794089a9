#include "app/qt/chart_canvas_qt.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include "app/qt/palette_image.h"
#include "app/qt/qt_palette.h"

namespace vr {

ChartCanvasQt::ChartCanvasQt(QColor background, QFont font)
    : background_(background), font_(std::move(font)) {
  Fit();
}

QSize ChartCanvasQt::Size() const {
  const QSize size = size_ ? size_() : QSize(1, 1);
  return {std::max(size.width(), 1), std::max(size.height(), 1)};
}

int ChartCanvasQt::Width() const { return Size().width(); }
int ChartCanvasQt::Height() const { return Size().height(); }

void ChartCanvasQt::Fit() {
  if (!image_.isNull() && image_.size() == Size()) return;
  image_ = QImage(Size(), QImage::Format_ARGB32_Premultiplied);
  image_.fill(background_);
}

void ChartCanvasQt::Changed() {
  if (onChange_) onChange_();
}

void ChartCanvasQt::Clear() {
  Fit();
  image_.fill(background_);
  Changed();
}

void ChartCanvasQt::SetPixel(int x, int y, int colour) {
  Fit();
  Image_Set_Pixel(image_, x, y, colour);
  Changed();
}

void ChartCanvasQt::PutBlock(int x, int y, int width, int height,
                             std::span<const uint8_t> colours) {
  Fit();
  Image_Put_Block(image_, x, y, width, height, colours);
  Changed();
}

void ChartCanvasQt::DrawText(int x, int y, const std::string& text, int colour) {
  Fit();
  Image_Draw_Text(image_, font_, x, y, text, colour);
  Changed();
}

int ChartCanvasQt::TextWidth(const std::string& text) const {
  return Image_Text_Width(font_, text);
}

int ChartCanvasQt::TextHeight() const { return QFontMetrics(font_).height(); }

ControlBox ChartCanvasQt::Box(Control c) const { return boxes_ ? boxes_(c) : ControlBox{}; }

}  // namespace vr
