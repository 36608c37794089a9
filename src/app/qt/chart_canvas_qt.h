// A chart picture drawn with Qt: palette indexes painted into an image that
// a widget shows. The histogram pictures keep one with a white background;
// the main window's client area keeps a transparent one for the pie chart.
#pragma once

#include <QFont>
#include <QImage>
#include <QSize>
#include <functional>

#include "app/charts/chart_canvas.h"

namespace vr {

class ChartCanvasQt : public FormCanvas {
 public:
  // `background` may be transparent (Qt::transparent).
  ChartCanvasQt(QColor background, QFont font);

  const QImage& Image() const { return image_; }
  // The size of the widget the picture is shown in: the picture follows it
  // (a new size starts blank).
  void SetSizeSource(std::function<QSize()> size) { size_ = std::move(size); }
  // Called after every drawing operation (the widget schedules a repaint).
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  // Where the controls lie, for a client-area canvas.
  void SetBoxes(std::function<ControlBox(Control)> boxes) { boxes_ = std::move(boxes); }

  void Clear() override;
  void SetPixel(int x, int y, int colour) override;
  void PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) override;
  void DrawText(int x, int y, const std::string& text, int colour) override;
  int TextWidth(const std::string& text) const override;
  int Width() const override;
  int Height() const override;
  int TextHeight() const override;
  ControlBox Box(Control c) const override;

 private:
  void Changed();
  // Makes the image the size of its widget, blank when that changed.
  void Fit();
  QSize Size() const;
  QColor background_;
  QFont font_;
  QImage image_;
  std::function<void()> onChange_;
  std::function<QSize()> size_;
  std::function<ControlBox(Control)> boxes_;
};

}  // namespace vr
