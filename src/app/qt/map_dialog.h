// The modal map windows NTBrimMapx (NTFS) and NTBrimMap (FAT): a small
// window over the main window with two status lines, whose one-shot timer
// starts the scan once the window is on the screen.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>

#include "app/map_window.h"

namespace vr {

class NTBrimMapDialog : public QDialog, public MapWindowPort {
  Q_OBJECT
 public:
  NTBrimMapDialog(MapKind kind, const QString& caption, QWidget* mainWindow);

  MapWindowLogic& Logic() { return logic_; }
  // The texts drawn on the status lines, in order (for tests).
  const QStringList& DrawnTexts() const { return drawn_; }

  // StatusSurface
  int Width() const override { return width(); }
  int Height() const override { return height(); }
  int TextHeight(const std::string& text) const override;
  int TextWidth(const std::string& text) const override;
  void FillBox(int x, int y, int width, int height, int colour) override;
  void DrawText(int left, int top, const std::string& text, int colour) override;
  void Update() override;
  // MapWindowPort
  void Unload() override;

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Form_Load();

  MapWindowLogic logic_;
  QWidget* main_;
  QPixmap canvas_;
  QTimer timer1_;
  QStringList drawn_;
  bool loaded_ = false;
};

}  // namespace vr
