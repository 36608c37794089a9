#include "app/qt/hex_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/menu.h"
#include "app/qt/qt_palette.h"
#include "app/shell.h"
#include "viewer/hex_lines.h"

namespace vr {

namespace {

QFont FixedFont() {
  QFont f("Courier New");
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setPixelSize(12);
  return f;
}

}  // namespace

HexPicture::HexPicture(const QString& name, int columns, QWidget* parent) : QWidget(parent) {
  setObjectName(name);
  setFont(FixedFont());
  const QFontMetrics m(font());
  charWidth_ = m.horizontalAdvance(QLatin1Char('0')) + 1;
  lineHeight_ = m.height();
  setFixedSize(columns * charWidth_ + 2, kHexPageRows * lineHeight_ + 2);
  canvas_ = QImage(size(), QImage::Format_RGB32);
  Clear();
}

void HexPicture::Clear() { canvas_.fill(QtColour(kBrightWhite)); }

// Character by character, each in its own cell, so the text stands exactly
// over the boxes of the marks whatever the font's fractional advance.
void HexPicture::DrawRow(int row, const QString& text) {
  QPainter p(&canvas_);
  p.setFont(font());
  p.setPen(QtColour(kBlack));
  for (int i = 0; i < text.size(); ++i)
    p.drawText(QRect(1 + i * charWidth_, 1 + row * lineHeight_, charWidth_, lineHeight_),
               Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, QString(text.at(i)));
}

void HexPicture::XorBox(int row, int column, int columns, int colour) {
  QPainter p(&canvas_);
  p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  p.fillRect(1 + column * charWidth_, 1 + row * lineHeight_, columns * charWidth_, lineHeight_,
             QtColour(colour));
}

void HexPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, canvas_);
}

void HexPicture::mousePressEvent(QMouseEvent* event) {
  if (!onClick || charWidth_ <= 0 || lineHeight_ <= 0) return;
  const QPoint at = event->position().toPoint() - QPoint(1, 1);
  if (at.x() < 0 || at.y() < 0) return;
  onClick(at.y() / lineHeight_, at.x() / charWidth_);
}

NTBrimHex::NTBrimHex(QWidget* parent) : QDialog(parent), viewer_(*this) {
  setObjectName("NTBrimHex");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QMenuBar(this);
  layout->setMenuBar(bar);
  BuildMenus(bar);

  auto* boxes = new QHBoxLayout;
  AddBox(boxes, "  Sector", "txtBlock", nullptr);
  AddBox(boxes, "FILE Index", "txtFile", nullptr);
  AddBox(boxes, "INDX Index", "txtIndx", nullptr);
  AddBox(boxes, "Root Dir", "txtDir", &dirLabel_);
  boxes->addStretch();
  layout->addLayout(boxes);

  auto* pictures = new QHBoxLayout;
  picOffset_ = new HexPicture("picOffset", 5, this);
  picData_ = new HexPicture("picData", 3 * kHexRowBytes, this);
  picText_ = new HexPicture("picText", kHexRowBytes, this);
  vscBlock_ = new QScrollBar(Qt::Vertical, this);
  vscBlock_->setObjectName("vscBlock");
  vscBlock_->setFixedHeight(picData_->height());
  vscBlock_->setSingleStep(kHexPageBytes);
  vscBlock_->setPageStep(kHexPageBytes);
  vscBlock_->hide();
  for (QWidget* w : {static_cast<QWidget*>(picOffset_), static_cast<QWidget*>(picData_),
                     static_cast<QWidget*>(picText_), static_cast<QWidget*>(vscBlock_)})
    pictures->addWidget(w, 0, Qt::AlignTop);
  pictures->addStretch();
  layout->addLayout(pictures);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(vscBlock_, &QScrollBar::valueChanged, this,
          [this](int value) { viewer_.VscBlock_Change(value); });
  picText_->onClick = [this](int row, int column) { viewer_.PicText_Click(row, column); };

  timer1_.setSingleShot(true);
  timer1_.setInterval(100);
  connect(&timer1_, &QTimer::timeout, this, [this] { viewer_.Timer1_Timer(); });
}

NTBrimHex::~NTBrimHex() {
  if (busy_) QApplication::restoreOverrideCursor();
}

QLineEdit* NTBrimHex::AddBox(QHBoxLayout* row, const QString& label, const char* name,
                             QLabel** labelOut) {
  auto* l = new QLabel(label, this);
  auto* e = new QLineEdit(this);
  e->setObjectName(name);
  e->setFixedWidth(90);
  e->installEventFilter(this);
  row->addWidget(l);
  row->addWidget(e);
  const HexBox box = QString(name) == "txtBlock"  ? HexBox::Block
                     : QString(name) == "txtFile" ? HexBox::File
                     : QString(name) == "txtIndx" ? HexBox::Indx
                                                  : HexBox::Dir;
  boxes_[box] = e;
  labels_[box] = l;
  if (labelOut) *labelOut = l;
  return e;
}

void NTBrimHex::BuildMenus(QMenuBar* bar) {
  findMenu_ = bar->addMenu("&Find");
  findMenu_->setObjectName("Find_");
  for (const FindMenuItem& item : Find_Menu()) {
    QAction* a = findMenu_->addAction(QString::fromUtf8(item.caption));
    const FindKind kind = item.kind;
    connect(a, &QAction::triggered, this, [this, kind] { viewer_.Find(kind); });
    findActions_[kind] = a;
  }
  nextFile_ = bar->addAction("Nextfile (F3)");
  nextFile_->setShortcut(Qt::Key_F3);
  connect(nextFile_, &QAction::triggered, this, [this] { viewer_.NextFile(); });
  showIndx_ = bar->addAction("Show INDX (F5)");
  showIndx_->setShortcut(Qt::Key_F5);
  connect(showIndx_, &QAction::triggered, this, [this] { viewer_.Show_Indx(); });
  QMenu* help = bar->addMenu("&Help");
  connect(help->addAction("&Topics"), &QAction::triggered, this,
          [] { Shell().ShowHelp(kHelpHexView); });
  connect(help->addAction("&About VoduRU"), &QAction::triggered, this, [] { About__Click(); });
  // The shortcuts work from the boxes as well.
  addAction(nextFile_);
  addAction(showIndx_);
}

QAction* NTBrimHex::FindAction(FindKind kind) const {
  const auto it = findActions_.find(kind);
  return it == findActions_.end() ? nullptr : it->second;
}

QLineEdit* NTBrimHex::Box(HexBox box) const { return boxes_.at(box); }

// The boxes take digits and Backspace only; Enter shows what they name.
bool NTBrimHex::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  HexBox box = HexBox::Block;
  bool ours = false;
  for (const auto& [b, e] : boxes_)
    if (e == watched) {
      box = b;
      ours = true;
    }
  if (!ours) return QDialog::eventFilter(watched, event);
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      switch (box) {
        case HexBox::Block: viewer_.TxtBlock_Enter(); break;
        case HexBox::File: viewer_.TxtFile_Enter(); break;
        case HexBox::Indx: viewer_.TxtIndx_Enter(); break;
        case HexBox::Dir: viewer_.TxtDir_Enter(); break;
      }
      return true;
    case Qt::Key_Escape:
    case Qt::Key_F3:
    case Qt::Key_F5: return false;  // the window's keys
    case Qt::Key_Backspace: return false;
    default: break;
  }
  const QString text = key->text();
  if (text.size() == 1 && HexViewer::Accepts_Key(text.at(0).toLatin1())) return false;
  return true;
}

void NTBrimHex::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (loaded_) return;
  loaded_ = true;
  timer1_.start();
}

void NTBrimHex::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void NTBrimHex::SetBoxText(HexBox box, const std::string& text) {
  boxes_.at(box)->setText(QString::fromStdString(text));
}

std::string NTBrimHex::BoxText(HexBox box) const { return boxes_.at(box)->text().toStdString(); }

void NTBrimHex::SetDirLabel(const std::string& text) {
  dirLabel_->setText(QString::fromStdString(text));
}

void NTBrimHex::ShowNtfsControls(bool ntfs) {
  findMenu_->menuAction()->setVisible(ntfs);
  for (HexBox b : {HexBox::File, HexBox::Indx}) {
    boxes_.at(b)->setVisible(ntfs);
    labels_.at(b)->setVisible(ntfs);
  }
  boxes_.at(HexBox::Dir)->setVisible(!ntfs);
  labels_.at(HexBox::Dir)->setVisible(!ntfs);
}

void NTBrimHex::SetScroll(bool visible, int max) {
  const QSignalBlocker quiet(vscBlock_);
  vscBlock_->setRange(0, visible ? max : 0);
  vscBlock_->setValue(0);
  vscBlock_->setVisible(visible);
}

void NTBrimHex::DrawPage(const HexPage& page) {
  page_ = page;
  for (HexPicture* p : {picOffset_, picData_, picText_}) p->Clear();
  for (size_t r = 0; r < page.hex.size(); ++r) {
    const int row = static_cast<int>(r);
    picOffset_->DrawRow(row, QString::fromStdString(page.offsets[r]));
    picData_->DrawRow(row, QString::fromStdString(page.hex[r]));
    picText_->DrawRow(row, QString::fromLatin1(page.chars[r].c_str()));
  }
  MarkFields();
}

void NTBrimHex::MarkFields() {
  for (const MarkBox& b : page_.boxes) {
    const int row = b.index / kHexRowBytes;
    const int column = b.index % kHexRowBytes;
    if (b.columns & kMarkData) picData_->XorBox(row, 3 * column, 2, b.colour);
    if (b.columns & kMarkText) picText_->XorBox(row, column, 1, b.colour);
  }
  for (HexPicture* p : {picOffset_, picData_, picText_}) p->update();
}

void NTBrimHex::Beep() {
  ++beeps_;
  QApplication::beep();
}

void NTBrimHex::DoEvents() { QCoreApplication::processEvents(); }

void NTBrimHex::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

bool NTBrimHex::AskText(const std::string& prompt, const std::string& title, std::string& answer) {
  if (answerHook) return answerHook(prompt, answer);
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, QString::fromStdString(title), QString::fromStdString(prompt),
                            QLineEdit::Normal, QString(), &ok);
  answer = text.toStdString();
  return ok;
}

void NTBrimHex::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  timer1_.stop();
  viewer_.Form_Unload();
  done(QDialog::Accepted);
}

// Esc goes to the viewer: back from an index block or a folder, else close.
void NTBrimHex::reject() { viewer_.Escape(); }

void NTBrimHex::closeEvent(QCloseEvent* event) {
  if (viewer_.StopSearch()) {
    event->ignore();  // the search ends first
    return;
  }
  Unload();
  event->accept();
}

}  // namespace vr
