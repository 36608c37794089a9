// Picture controls of the main window: the map picture `picMap`, a plain
// picture (the histograms) and the logo `imgBrim`.
#pragma once

#include <QFrame>
#include <QWidget>
#include <memory>

#include "app/qt/chart_canvas_qt.h"
#include "app/qt/map_canvas_qt.h"

namespace vr {

// `picMap`: the block map and, at times, the size chart, drawn into its
// canvas (which the window installs as the map painters' PicMap). Until
// those are drawn it shows an empty white area.
class MapPicture : public QFrame {
  Q_OBJECT
 public:
  explicit MapPicture(QWidget* parent = nullptr);
  MapCanvasQt& Canvas() { return canvas_; }
  void Clear();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  MapCanvasQt canvas_;
};

// `picHistoF`, `PicHistoE`: a white picture the size charts are drawn into.
class PlainPicture : public QFrame {
  Q_OBJECT
 public:
  explicit PlainPicture(QWidget* parent = nullptr);
  ChartCanvasQt& Chart() { return chart_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ChartCanvasQt chart_;
};

// The drawings of the main window's client area (the pie chart): a
// transparent layer under the window's controls, cleared with the text.
class DrawingLayer : public QWidget {
  Q_OBJECT
 public:
  explicit DrawingLayer(QWidget* parent = nullptr);
  ChartCanvasQt& Chart() { return chart_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ChartCanvasQt chart_;
};

// `imgBrim`: the program's logo, drawn rather than loaded.
class Logo : public QWidget {
  Q_OBJECT
 public:
  explicit Logo(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {120, 120}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vr
