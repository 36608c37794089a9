#include "app/qt/map_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QPainter>

#include "app/event_guard.h"
#include "app/qt/qt_palette.h"
#include "app/shell.h"

namespace vr {

namespace {
constexpr int kWindowWidth = 380;
constexpr int kWindowHeight = 40;
}  // namespace

NTBrimMapDialog::NTBrimMapDialog(MapKind kind, const QString& caption, QWidget* mainWindow)
    : QDialog(mainWindow), logic_(kind, *this), main_(mainWindow) {
  setObjectName(kind == MapKind::Ntfs ? "NTBrimMapx" : "NTBrimMap");
  setWindowTitle(caption);
  setModal(true);
  setFixedSize(kWindowWidth, kWindowHeight);
  QFont f = font();
  f.setPixelSize(11);
  setFont(f);
  canvas_ = QPixmap(size());
  canvas_.fill(QtColour(kWhite));
  timer1_.setSingleShot(true);
  // The pause lets the window appear before the work starts; without a
  // display nobody waits for it.
  timer1_.setInterval(Headless ? 0 : 100);
  connect(&timer1_, &QTimer::timeout, this, [this] { Guard([this] { logic_.Timer1_Timer(); }); });
}

// Placed over the main window at its drive list, then the timer is enabled.
void NTBrimMapDialog::Form_Load() {
  if (main_) {
    const QComboBox* drvUser = main_->findChild<QComboBox*>("DrvUser");
    const MapPlacement at = Map_Window_Position(main_->x(), main_->y(), drvUser ? drvUser->x() : 0);
    move(at.left, at.top);
  }
  timer1_.start();
}

void NTBrimMapDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (loaded_) return;
  loaded_ = true;
  Form_Load();
}

int NTBrimMapDialog::TextHeight(const std::string&) const { return fontMetrics().height(); }

int NTBrimMapDialog::TextWidth(const std::string& text) const {
  return fontMetrics().horizontalAdvance(QString::fromStdString(text));
}

void NTBrimMapDialog::FillBox(int x, int y, int width, int height, int colour) {
  QPainter p(&canvas_);
  p.fillRect(x, y, width, height, QtColour(colour));
}

void NTBrimMapDialog::DrawText(int left, int top, const std::string& text, int colour) {
  QPainter p(&canvas_);
  p.setFont(font());
  p.setPen(QtColour(colour));
  const QString t = QString::fromStdString(text);
  p.drawText(QRect(left, top, width() - left, height() - top),
             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, t);
  drawn_ << t;
}

void NTBrimMapDialog::Update() {
  if (!Headless) repaint();
}

void NTBrimMapDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, canvas_);
}

void NTBrimMapDialog::Unload() {
  timer1_.stop();
  logic_.Form_Unload();
  done(QDialog::Accepted);
}

void NTBrimMapDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) Guard([this] { logic_.Form_KeyDown(27); });
  // Other keys have no meaning here; in particular Enter does not close.
}

// Every way of dismissing the window goes through the close rules.
void NTBrimMapDialog::reject() { close(); }

void NTBrimMapDialog::closeEvent(QCloseEvent* event) {
  bool cancel = false;
  Guard([&] { cancel = logic_.Form_QueryUnload(); });
  if (cancel) {
    event->ignore();
    return;
  }
  timer1_.stop();
  logic_.Form_Unload();
  event->accept();
  QDialog::reject();
}

}  // namespace vr
