#include "app/qt/palette_image.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include "app/qt/qt_palette.h"

namespace vr {

void Image_Set_Pixel(QImage& image, int x, int y, int colour) {
  if (image.rect().contains(x, y)) image.setPixel(x, y, QtColour(colour).rgb());
}

void Image_Put_Block(QImage& image, int x, int y, int width, int height,
                     std::span<const uint8_t> colours) {
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      const size_t k = static_cast<size_t>(j) * width + i;
      if (k >= colours.size() || !image.rect().contains(x + i, y + j)) continue;
      image.setPixel(x + i, y + j, QtColour(colours[k]).rgb());
    }
}

void Image_Draw_Text(QImage& image, const QFont& font, int x, int y, const std::string& text,
                     int colour) {
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(QtColour(colour));
  const QString t = QString::fromStdString(text);
  const QFontMetrics metrics(font);
  painter.drawText(QRect(x, y, metrics.horizontalAdvance(t) + 1, metrics.height()),
                   Qt::AlignLeft | Qt::AlignTop, t);
}

int Image_Text_Width(const QFont& font, const std::string& text) {
  return QFontMetrics(font).horizontalAdvance(QString::fromStdString(text));
}

}  // namespace vr
