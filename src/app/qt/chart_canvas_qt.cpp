#include "app/qt/chart_canvas_qt.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

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
  if (!image_.rect().contains(x, y)) return;
  image_.setPixel(x, y, QtColour(colour).rgb());
  Changed();
}

void ChartCanvasQt::PutBlock(int x, int y, int width, int height,
                             std::span<const uint8_t> colours) {
  Fit();
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      const size_t k = static_cast<size_t>(j) * width + i;
      if (k >= colours.size() || !image_.rect().contains(x + i, y + j)) continue;
      image_.setPixel(x + i, y + j, QtColour(colours[k]).rgb());
    }
  Changed();
}

void ChartCanvasQt::DrawText(int x, int y, const std::string& text, int colour) {
  Fit();
  QPainter painter(&image_);
  painter.setFont(font_);
  painter.setPen(QtColour(colour));
  const QString t = QString::fromStdString(text);
  const QFontMetrics metrics(font_);
  painter.drawText(QRect(x, y, metrics.horizontalAdvance(t) + 1, metrics.height()),
                   Qt::AlignLeft | Qt::AlignTop, t);
  painter.end();
  Changed();
}

int ChartCanvasQt::TextWidth(const std::string& text) const {
  return QFontMetrics(font_).horizontalAdvance(QString::fromStdString(text));
}

int ChartCanvasQt::TextHeight() const { return QFontMetrics(font_).height(); }

ControlBox ChartCanvasQt::Box(Control c) const { return boxes_ ? boxes_(c) : ControlBox{}; }

}  // namespace vr
