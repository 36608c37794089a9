// Picture controls of the main window: the map picture `picMap`, a plain
// picture (the histograms) and the logo `imgBrim`.
#pragma once

#include <QFrame>
#include <QWidget>

namespace vr {

// `picMap`: the block map and, at times, the size chart. Until those are
// drawn it shows an empty white area.
class MapPicture : public QFrame {
  Q_OBJECT
 public:
  explicit MapPicture(QWidget* parent = nullptr);
  void Clear();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// `picHistoF`, `PicHistoE`.
class PlainPicture : public QFrame {
  Q_OBJECT
 public:
  explicit PlainPicture(QWidget* parent = nullptr);
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
