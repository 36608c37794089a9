#include "app/qt/pictures.h"

#include <QPainter>
#include <QPainterPath>

#include "app/qt/qt_palette.h"
#include "app/shell.h"

namespace vr {

MapPicture::MapPicture(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
}

void MapPicture::Clear() { update(); }

void MapPicture::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(rect(), QtColour(kBrightWhite));
  p.end();
  QFrame::paintEvent(event);
}

PlainPicture::PlainPicture(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QtColour(kBrightWhite));
  setPalette(pal);
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
