// The help viewer: the program's help pages in a simple browser window.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace vr {

class HelpWindow : public QDialog {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  // Shows `page` of the built-in help ("contents.html", ...).
  void ShowPage(const QString& page);
  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace vr
