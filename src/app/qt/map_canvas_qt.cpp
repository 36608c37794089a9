#include "app/qt/map_canvas_qt.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include "app/qt/palette_image.h"
#include "app/qt/qt_palette.h"
#include "map/legend.h"
#include "map/map_geometry.h"
#include "map/repaint.h"

namespace vr {
namespace {

const QRgb kBackground = qRgb(255, 255, 255);
// Pixels kept free to the right of the widest legend.
constexpr int kLegendMargin = 6;

// The legend's font: 10 pixels high, or smaller when the family Qt picked
// is so wide that the widest legend would not fit the picture.
QFont Legend_Font(int width) {
  QFont font;
  for (int pixels = 10;; --pixels) {
    font.setPixelSize(pixels);
    const QFontMetrics metrics(font);
    const Long right = Widest_Legend_Width([&](const std::string& word) {
      return metrics.horizontalAdvance(QString::fromStdString(word));
    });
    if (pixels <= 6 || right + kLegendMargin <= width) return font;
  }
}

}  // namespace

MapCanvasQt::MapCanvasQt() : MapCanvasQt(MapWidth(), MapHeight()) {}

MapCanvasQt::MapCanvasQt(int width, int height) : font_(Legend_Font(width)) {
  Resize(width, height);
}

void MapCanvasQt::Resize(int width, int height) {
  font_ = Legend_Font(width);
  image_ = QImage(width > 0 ? width : 1, height > 0 ? height : 1, QImage::Format_RGB32);
  image_.fill(kBackground);
  Changed();
}

void MapCanvasQt::Changed() {
  if (on_change_) on_change_();
}

void MapCanvasQt::Clear() {
  image_.fill(kBackground);
  Changed();
}

void MapCanvasQt::SetPixel(int x, int y, int colour) {
  Image_Set_Pixel(image_, x, y, colour);
  Changed();
}

void MapCanvasQt::PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) {
  Image_Put_Block(image_, x, y, width, height, colours);
  Changed();
}

void MapCanvasQt::DrawText(int x, int y, const std::string& text, int colour) {
  Image_Draw_Text(image_, font_, x, y, text, colour);
  Changed();
}

int MapCanvasQt::TextWidth(const std::string& text) const { return Image_Text_Width(font_, text); }

QImage Render_Map_Image() {
  MapCanvasQt canvas;
  MapCanvas* previous = SetPicMap(&canvas);
  try {
    Map_Repaint();
  } catch (...) {
    SetPicMap(previous);
    throw;
  }
  SetPicMap(previous);
  return canvas.Image();
}

bool Save_Map_Png(const std::string& file) {
  return Render_Map_Image().save(QString::fromStdString(file), "PNG");
}

}  // namespace vr
