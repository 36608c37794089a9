#include "app/qt/pictures.h"

#include <QPainter>
#include <QPainterPath>

#include "app/qt/qt_palette.h"
#include "app/shell.h"

namespace vr {

MapPicture::MapPicture(QWidget* parent) : QFrame(parent), canvas_(1, 1) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  canvas_.SetOnChange([this] { update(); });
}

void MapPicture::Clear() { canvas_.Clear(); }

void MapPicture::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(rect(), QtColour(kBrightWhite));
  p.drawImage(0, 0, canvas_.Image());
  p.end();
  QFrame::paintEvent(event);
}

namespace {

QFont Chart_Font(int pixels) {
  QFont font;
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

PlainPicture::PlainPicture(QWidget* parent)
    : QFrame(parent), chart_(QtColour(kBrightWhite), Chart_Font(10)) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QtColour(kBrightWhite));
  setPalette(pal);
  chart_.SetOnChange([this] { update(); });
  chart_.SetSizeSource([this] { return geometry().size(); });
}

void PlainPicture::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.drawImage(0, 0, chart_.Image());
  p.end();
  QFrame::paintEvent(event);
}

DrawingLayer::DrawingLayer(QWidget* parent)
    : QWidget(parent), chart_(QColor(Qt::transparent), Chart_Font(12)) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  chart_.SetOnChange([this] { update(); });
  chart_.SetSizeSource([this] { return geometry().size(); });
}

void DrawingLayer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, chart_.Image());
}

Logo::Logo(QWidget* parent) : QWidget(parent) { setFixedSize(sizeHint()); }

// A disk platter seen from above with a strip of map boxes running from the
// hub to the rim: packed files at the start, free space at the end.
void Logo::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF disk(6, 6, width() - 12, height() - 12);
  QRadialGradient shine(disk.center(), disk.width() / 2, disk.topLeft() + QPointF(30, 30));
  shine.setColorAt(0, QtColour(kBrightWhite));
  shine.setColorAt(1, QtColour(kGray));
  p.setPen(QPen(QtColour(kBlack), 1.5));
  p.setBrush(shine);
  p.drawEllipse(disk);
  p.setBrush(QtColour(kWhite));
  p.drawEllipse(disk.center(), 10, 10);

  const int colours[] = {kLightGreen, kLightMagenta, kMagenta, kLightBlue, kLightBlue, kWhite};
  const double box = 5;
  double x = disk.center().x() + 13;
  const double y = disk.center().y() - box / 2;
  p.setPen(QPen(QtColour(kBlack), 0.5));
  for (int c : colours) {
    p.setBrush(QtColour(c));
    p.drawRect(QRectF(x, y, box, box));
    x += box + 1;
  }
  QFont f = font();
  f.setBold(true);
  f.setPixelSize(16);
  p.setFont(f);
  p.setPen(QtColour(kBlue));
  p.drawText(QRectF(disk.left(), disk.center().y() + 14, disk.width(), 22), Qt::AlignCenter,
             "VoduRU");
}

}  // namespace vr
