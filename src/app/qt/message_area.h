// The main window's client area: report lines written with a text cursor,
// top to bottom, never scrolled. The window's controls are its children.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

namespace vr {

class MessageArea : public QWidget {
  Q_OBJECT
 public:
  explicit MessageArea(QWidget* parent = nullptr);

  void Clear();
  void SetPos(int x, int y);
  int X() const { return x_; }
  int Y() const { return y_; }
  void Write(const std::string& text, int colour);
  void EndLine();
  int LineHeight() const;

  // The text written at each line position, for tests and the log.
  std::vector<std::string> LineTexts() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Run {
    int x, y;
    QString text;
    int colour;
  };
  std::vector<Run> runs_;
  int x_ = 0, y_ = 4;
};

}  // namespace vr
