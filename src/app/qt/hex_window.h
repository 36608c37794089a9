// The structure viewer window NTBrimHex: the four number boxes, the three
// fixed-pitch pictures (offsets, hexadecimal, characters), the scroll bar,
// the Find, Nextfile, Show INDX and Help menus and the one-shot timer that
// loads the volume once the window is on the screen. All logic is in the
// viewer engine; the window draws its pages and passes the events on.
#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <functional>
#include <map>

#include "viewer/hex_viewer.h"
#include "viewer/hex_window_port.h"

class QAction;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QScrollBar;

namespace vr {

// One of the three pictures: a white canvas with rows of text, on which the
// marks are drawn with the XOR pen.
class HexPicture : public QWidget {
  Q_OBJECT
 public:
  HexPicture(const QString& name, int columns, QWidget* parent);
  void Clear();
  void DrawRow(int row, const QString& text);
  // A box Columns characters wide at character column Column of row Row,
  // XORed onto the canvas.
  void XorBox(int row, int column, int columns, int colour);
  const QImage& Canvas() const { return canvas_; }
  int LineHeight() const { return lineHeight_; }
  int CharWidth() const { return charWidth_; }
  std::function<void(int row, int column)> onClick;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QImage canvas_;
  int lineHeight_ = 0;
  int charWidth_ = 0;
};

class NTBrimHex : public QDialog, public HexWindowPort {
  Q_OBJECT
 public:
  explicit NTBrimHex(QWidget* parent = nullptr);
  ~NTBrimHex() override;

  HexViewer& Viewer() { return viewer_; }
  QLineEdit* Box(HexBox box) const;
  QLabel* DirLabel() const { return dirLabel_; }
  QScrollBar* VscBlock() const { return vscBlock_; }
  HexPicture* PicOffset() const { return picOffset_; }
  HexPicture* PicData() const { return picData_; }
  HexPicture* PicText() const { return picText_; }
  QMenu* FindMenu() const { return findMenu_; }
  QAction* FindAction(FindKind kind) const;
  QAction* NextFileAction() const { return nextFile_; }
  QAction* ShowIndxAction() const { return showIndx_; }
  QTimer& Timer1() { return timer1_; }
  int Beeps() const { return beeps_; }
  // Draws the marks of the page on display once more (XOR: a second call
  // takes them off again).
  void MarkFields();
  // Answers the input boxes instead of asking (tests).
  std::function<bool(const std::string& prompt, std::string& answer)> answerHook;

  // HexWindowPort
  void SetCaption(const std::string& caption) override;
  void SetBoxText(HexBox box, const std::string& text) override;
  std::string BoxText(HexBox box) const override;
  void SetDirLabel(const std::string& text) override;
  void ShowNtfsControls(bool ntfs) override;
  void SetScroll(bool visible, int max) override;
  void DrawPage(const HexPage& page) override;
  void Beep() override;
  void DoEvents() override;
  void SetBusyCursor(bool busy) override;
  bool AskText(const std::string& prompt, const std::string& title, std::string& answer) override;
  void Unload() override;

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus(QMenuBar* bar);
  QLineEdit* AddBox(QHBoxLayout* row, const QString& label, const char* name, QLabel** labelOut);

  HexViewer viewer_;
  std::map<HexBox, QLineEdit*> boxes_;
  std::map<HexBox, QLabel*> labels_;
  QLabel* dirLabel_ = nullptr;
  HexPicture* picOffset_ = nullptr;
  HexPicture* picData_ = nullptr;
  HexPicture* picText_ = nullptr;
  QScrollBar* vscBlock_ = nullptr;
  QMenu* findMenu_ = nullptr;
  std::map<FindKind, QAction*> findActions_;
  QAction* nextFile_ = nullptr;
  QAction* showIndx_ = nullptr;
  QTimer timer1_;
  HexPage page_;
  int beeps_ = 0;
  bool busy_ = false;
  bool loaded_ = false;
  bool unloaded_ = false;
};

}  // namespace vr
