#include "app/qt/message_area.h"

#include <QFontMetrics>
#include <QPainter>
#include <map>

#include "app/qt/qt_palette.h"

namespace vr {

namespace {
constexpr int kMargin = 4;  // the text keeps clear of the window's edge
}

MessageArea::MessageArea(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QtColour(kWhite));
  setPalette(p);
}

void MessageArea::Clear() {
  runs_.clear();
  update();
}

void MessageArea::SetPos(int x, int y) {
  x_ = x;
  y_ = y;
}

int MessageArea::LineHeight() const { return QFontMetrics(font()).height(); }

void MessageArea::Write(const std::string& text, int colour) {
  const QString t = QString::fromStdString(text);
  runs_.push_back({x_, y_, t, colour});
  x_ += QFontMetrics(font()).horizontalAdvance(t);
  update();
}

void MessageArea::EndLine() {
  x_ = 0;
  y_ += LineHeight();
}

std::vector<std::string> MessageArea::LineTexts() const {
  std::map<int, std::string> lines;
  for (const Run& r : runs_) lines[r.y] += r.text.toStdString();
  std::vector<std::string> out;
  for (const auto& [y, text] : lines) out.push_back(text);
  return out;
}

void MessageArea::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  const QFontMetrics fm(font());
  for (const Run& r : runs_) {
    p.setPen(QtColour(r.colour));
    p.drawText(kMargin + r.x, r.y + fm.ascent(), r.text);
  }
}

}  // namespace vr
