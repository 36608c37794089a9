// NTBrimF as the port the shell and the engines work through.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <cmath>

#include "app/help_topics.h"
#include "app/qt/help_window.h"
#include "app/qt/main_window.h"
#include "app/qt/map_dialog.h"
#include "app/qt/message_area.h"
#include "app/qt/pictures.h"
#include "app/version_info.h"

namespace vr {

QAction* NTBrimF::Action(MenuItem item) const {
  auto it = actions_.find(item);
  return it == actions_.end() ? nullptr : it->second;
}

QMenu* NTBrimF::MenuOf(MenuItem title) const {
  auto it = menus_.find(title);
  return it == menus_.end() ? nullptr : it->second;
}

QWidget* NTBrimF::ControlWidget(Control c) const {
  switch (c) {
    case Control::picMap: return picMap_;
    case Control::picHistoF: return picHistoF_;
    case Control::PicHistoE: return picHistoE_;
    case Control::lblCount: return lblCount_;
    case Control::frmInuse: return frmInuse_;
    case Control::lstInuse: return lstInuse_;
    case Control::lstValErrs: return lstValErrs_;
    case Control::Raw: return raw_;
    case Control::DrvUser: return drvUser_;
    case Control::imgBrim: return imgBrim_;
    case Control::lblMaker: return lblMaker_;
    default: return nullptr;
  }
}

QAction* NTBrimF::MenuControl(Control c) const {
  switch (c) {
    case Control::Drive_: return Action(MenuItem::Drive_);
    case Control::Options_: return Action(MenuItem::Options_);
    case Control::Tools_: return Action(MenuItem::Tools_);
    case Control::Help_: return Action(MenuItem::Help_);
    case Control::Hex_: return Action(MenuItem::Hex_);
    case Control::Checksum_: return Action(MenuItem::Checksum_);
    case Control::Validate_: return Action(MenuItem::Validate_);
    default: return nullptr;
  }
}

QListWidget* NTBrimF::List(Control c) const {
  switch (c) {
    case Control::lstInuse: return lstInuse_;
    case Control::lstValErrs: return lstValErrs_;
    case Control::Raw: return raw_;
    default: return nullptr;
  }
}

void NTBrimF::MsgClear() {
  messages_->Clear();
  drawings_->Chart().Clear();
}
void NTBrimF::MsgSetPos(int x, int y) { messages_->SetPos(x, y); }
int NTBrimF::MsgX() const { return messages_->X(); }
int NTBrimF::MsgY() const { return messages_->Y(); }
void NTBrimF::MsgWrite(const std::string& text, int colour) { messages_->Write(text, colour); }
void NTBrimF::MsgEndLine() { messages_->EndLine(); }

void NTBrimF::SetVisible(Control c, bool visible) {
  if (QWidget* w = ControlWidget(c))
    w->setVisible(visible);
  else if (QAction* a = MenuControl(c))
    a->setVisible(visible);
}

bool NTBrimF::IsVisible(Control c) const {
  if (QWidget* w = ControlWidget(c)) return !w->isHidden();
  if (QAction* a = MenuControl(c)) return a->isVisible();
  return false;
}

void NTBrimF::SetEnabled(Control c, bool enabled) {
  if (QWidget* w = ControlWidget(c))
    w->setEnabled(enabled);
  else if (QAction* a = MenuControl(c))
    a->setEnabled(enabled);
}

void NTBrimF::ClearList(Control c) {
  if (c == Control::DrvUser) {
    const QSignalBlocker quiet(drvUser_);
    drvUser_->clear();
  } else if (QListWidget* l = List(c)) {
    l->clear();
  }
}

void NTBrimF::AddItem(Control c, const std::string& text) {
  const QString t = QString::fromStdString(text);
  if (c == Control::DrvUser) {
    const QSignalBlocker quiet(drvUser_);
    drvUser_->addItem(t);
  } else if (QListWidget* l = List(c)) {
    l->addItem(t);
  }
}

std::vector<std::string> NTBrimF::Items(Control c) const {
  std::vector<std::string> out;
  if (c == Control::DrvUser) {
    for (int i = 0; i < drvUser_->count(); ++i) out.push_back(drvUser_->itemText(i).toStdString());
  } else if (QListWidget* l = List(c)) {
    for (int i = 0; i < l->count(); ++i) out.push_back(l->item(i)->text().toStdString());
  }
  return out;
}

int NTBrimF::RightOf(Control c) const {
  QWidget* w = ControlWidget(c);
  return w ? w->x() + w->width() : 0;
}

void NTBrimF::MessageBox(const std::string& text, MsgIcon icon) {
  const QMessageBox::Icon i = icon == MsgIcon::Critical      ? QMessageBox::Critical
                              : icon == MsgIcon::Exclamation ? QMessageBox::Warning
                                                             : QMessageBox::Information;
  QString t = QString::fromStdString(text);
  t.replace("\r\n", "\n");
  QMessageBox box(i, windowTitle(), t, QMessageBox::Ok, this);
  box.exec();
}

void NTBrimF::Beep() { QApplication::beep(); }

void NTBrimF::DoEvents() {
  if (pump_.Due()) QCoreApplication::processEvents();
}

void NTBrimF::SetBusyCursor(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

void NTBrimF::BringToFront() {
  raise();
  activateWindow();
}

bool NTBrimF::WindowVisible() const { return isVisible(); }
void NTBrimF::ShowWindow() { show(); }
void NTBrimF::HideWindow() { hide(); }

std::string NTBrimF::DrvUserText() const { return drvUser_->currentText().toStdString(); }

void NTBrimF::ShowMapWindow(MapKind kind, const std::string& caption) {
  NTBrimMapDialog map(kind, QString::fromStdString(caption), this);
  map.exec();
}

bool NTBrimF::MenuChecked(MenuItem item) const {
  QAction* a = Action(item);
  return a && a->isChecked();
}

void NTBrimF::SetMenuChecked(MenuItem item, bool checked) {
  if (QAction* a = Action(item)) a->setChecked(checked);
}

int NTBrimF::DrvUserIndex() const { return drvUser_->currentIndex(); }

void NTBrimF::SetDrvUserIndex(int index) {
  const QSignalBlocker quiet(drvUser_);
  drvUser_->setCurrentIndex(index);
}

void NTBrimF::ClearMap() { picMap_->Clear(); }

void NTBrimF::SetLabel(Control c, const std::string& text) {
  if (auto* label = qobject_cast<QLabel*>(ControlWidget(c))) {
    label->setText(QString::fromStdString(text));
    label->repaint();
  }
}

ScreenMetrics NTBrimF::Metrics() const {
  ScreenMetrics m;
  const double dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
  m.twipsPerPixelX = static_cast<int>(std::lround(1440.0 / dpi));
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  m.cxFrame = (frame.width() - client.width()) / 2;
  m.cyFrame = frame.bottom() - client.bottom();
  m.cyCaption = client.top() - frame.top() - m.cyFrame;
  m.cyMenu = menuBar()->sizeHint().height();
  m.drvUserLeft = drvUser_->x();
  m.drvUserTop = drvUser_->y();
  return m;
}

void NTBrimF::EndProgram(int exitCode) {
  help_->close();
  QCoreApplication::exit(exitCode);
}

void NTBrimF::ShowAbout(const std::string& appText, const std::string& otherText) {
  // The application text carries the title before "#" and an addition to
  // the first line after it.
  const QString app = QString::fromStdString(appText);
  const int hash = app.indexOf('#');
  const QString title = hash < 0 ? app : app.left(hash);
  const QString addition = hash < 0 ? QString() : app.mid(hash + 1);
  QString other = QString::fromStdString(otherText);
  other.replace("\r\n", "\n");
  QString body = QString::fromUtf8(kProductName) + " " + QString::fromUtf8(kProductVersion);
  if (!addition.isEmpty()) body += " " + addition;
  body += "\n" + title + "\n\n" + other;
  QMessageBox box(QMessageBox::NoIcon, "About " + title, body, QMessageBox::Ok, this);
  box.setObjectName("AboutBox");
  box.exec();
}

void NTBrimF::ShowHelp(int context) {
  help_->ShowPage(QString::fromStdString(HelpTopicPage(context)));
}

bool NTBrimF::SaveMapImage(const std::string& file) {
  return picMap_->grab().save(QString::fromStdString(file), "PNG");
}

bool NTBrimF::SaveWindowImage(const std::string& file) {
  return grab().save(QString::fromStdString(file), "PNG");
}

}  // namespace vr
