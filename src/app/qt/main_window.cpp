#include "app/qt/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QVBoxLayout>

#include "app/charts/chart_canvas.h"
#include "app/command_guard.h"
#include "app/hex_command.h"
#include "app/map_picture.h"
#include "app/event_guard.h"
#include "app/qt/help_window.h"
#include "app/qt/hex_window.h"
#include "app/qt/message_area.h"
#include "app/qt/pictures.h"
#include "app/shell.h"
#include "app/version_info.h"

namespace vr {

namespace {
constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;
}  // namespace

NTBrimF::NTBrimF(QWidget* parent) : QMainWindow(parent) {
  setObjectName("NTBrimF");
  setWindowTitle("VoduRU");
  QFont f = font();
  f.setPixelSize(12);
  setFont(f);
  BuildMenus();
  BuildControls();
  help_ = new HelpWindow(this);
  SetHexWindowOpener([this] {
    NTBrimHex hex(this);
    hex.exec();
  });
}

NTBrimF::~NTBrimF() {
  SetHexWindowOpener(nullptr);
  // The map and the charts stop drawing into this window's pictures.
  if (&vr::PicMap() == &picMap_->Canvas()) SetPicMap(nullptr);
  if (&MainCanvas() == &drawings_->Chart()) SetMainCanvas(nullptr);
  if (&ChartPicture(Control::picHistoF) == &picHistoF_->Chart())
    SetChartPicture(Control::picHistoF, nullptr);
  if (&ChartPicture(Control::PicHistoE) == &picHistoE_->Chart())
    SetChartPicture(Control::PicHistoE, nullptr);
}

void NTBrimF::BuildMenus() {
  QMenu* current = nullptr;
  for (const MenuEntry& e : MenuTable()) {
    if (e.menu == e.item) {
      current = menuBar()->addMenu(QString::fromUtf8(e.caption));
      current->setObjectName(e.name);
      menus_[e.item] = current;
      actions_[e.item] = current->menuAction();
      continue;
    }
    if (e.separatorBefore) current->addSeparator();
    QAction* a = current->addAction(QString::fromUtf8(e.caption));
    a->setObjectName(e.name);
    a->setCheckable(e.checkable);
    const MenuItem item = e.item;
    // A check mark is the command's to set: Qt's own toggle on a click is
    // undone before the command runs.
    connect(a, &QAction::triggered, this, [a, item](bool checked) {
      if (a->isCheckable()) a->setChecked(!checked);
      Guard([item] { AdmitCommand([item] { RunMenuCommand(item); }); });
    });
    actions_[e.item] = a;
  }
  // Opening the Drive menu is its title's click: it resets the display.
  connect(menus_[MenuItem::Drive_], &QMenu::aboutToShow, this,
          [] { Guard([] { AdmitCommand(Drive__Click); }); });
  actions_[MenuItem::Validate_]->setEnabled(false);
}

void NTBrimF::BuildControls() {
  messages_ = new MessageArea(this);
  messages_->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(messages_);

  drawings_ = new DrawingLayer(messages_);
  drawings_->setGeometry(0, 0, kClientWidth, kClientHeight);
  drawings_->Chart().SetBoxes([this](Control c) {
    const QWidget* w = ControlWidget(c);
    if (w == nullptr) return ControlBox{};
    const QRect r = w->geometry();
    return ControlBox{r.left(), r.top(), r.width(), r.height()};
  });

  lblCount_ = new QLabel(messages_);
  lblCount_->setObjectName("lblCount");
  lblCount_->setGeometry(4, 4, 80, 16);
  lblCount_->hide();

  drvUser_ = new QComboBox(messages_);
  drvUser_->setObjectName("DrvUser");
  drvUser_->installEventFilter(this);
  connect(drvUser_, &QComboBox::currentIndexChanged, this,
          [] { Guard([] { AdmitCommand(DrvUser_Change); }); });

  picMap_ = new MapPicture(messages_);
  picMap_->setObjectName("picMap");
  picHistoF_ = new PlainPicture(messages_);
  picHistoF_->setObjectName("picHistoF");
  picHistoF_->hide();
  picHistoE_ = new PlainPicture(messages_);
  picHistoE_->setObjectName("PicHistoE");
  picHistoE_->hide();

  lstValErrs_ = new QListWidget(messages_);
  lstValErrs_->setObjectName("lstValErrs");
  lstValErrs_->installEventFilter(this);
  lstValErrs_->hide();

  frmInuse_ = new QGroupBox("Fragmented files", messages_);
  frmInuse_->setObjectName("frmInuse");
  lstInuse_ = new QListWidget(frmInuse_);
  lstInuse_->setObjectName("lstInuse");
  lstInuse_->installEventFilter(this);
  auto* box = new QVBoxLayout(frmInuse_);
  box->setContentsMargins(4, 4, 4, 4);
  box->addWidget(lstInuse_);
  frmInuse_->hide();

  raw_ = new QListWidget(messages_);
  raw_->setObjectName("Raw");
  raw_->hide();

  imgBrim_ = new Logo(messages_);
  imgBrim_->setObjectName("imgBrim");
  lblMaker_ = new QLabel(QString::fromUtf8(kMakerName), messages_);
  lblMaker_->setObjectName("lblMaker");
  lblMaker_->setAlignment(Qt::AlignCenter);

  PlaceMap(75 * 5 + 5, 47 * 5 + 15);
  drawings_->lower();
  SetPicMap(&picMap_->Canvas());
  SetMainCanvas(&drawings_->Chart());
  SetChartPicture(Control::picHistoF, &picHistoF_->Chart());
  SetChartPicture(Control::PicHistoE, &picHistoE_->Chart());
}

// The map picture sits 2 pixels from the right and bottom edges; the
// fragmented-files frame ends 4 pixels above it and the drive list is at
// the top of that column. The left column holds the message text, with the
// charts, the validation list and the logo at its foot.
void NTBrimF::PlaceMap(int width, int height) {
  const int mapLeft = kClientWidth - 2 - width;
  const int mapTop = kClientHeight - 2 - height;
  picMap_->setGeometry(mapLeft, mapTop, width, height);
  // A picture of the new size starts blank and is drawn again.
  if (picMap_->Canvas().Image().size() != QSize(width, height)) {
    picMap_->Canvas().Resize(width, height);
    if (&vr::PicMap() == &picMap_->Canvas()) Guard([] { picMap_Paint(); });
  }
  drvUser_->setGeometry(mapLeft, 8, qMin(width, 240), drvUser_->sizeHint().height());
  const int frameTop = drvUser_->geometry().bottom() + 8;
  frmInuse_->setGeometry(mapLeft, frameTop, width, mapTop - 4 - frameTop);

  const int leftWidth = mapLeft - 12;
  picHistoF_->setGeometry(6, mapTop, leftWidth, height);
  picHistoE_->setGeometry(6, mapTop - 4 - height / 2, leftWidth, height / 2);
  lstValErrs_->setGeometry(6, mapTop, leftWidth, height);
  imgBrim_->move(6 + (leftWidth - imgBrim_->width()) / 2, mapTop + 40);
  lblMaker_->setGeometry(6, imgBrim_->geometry().bottom() + 6, leftWidth, 20);
}

void NTBrimF::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Guard([] { Form_KeyDown(27, 0); });
  } else if (event->key() == Qt::Key_F1) {
    Guard([] { ShowContextHelp(); });
  } else {
    QMainWindow::keyPressEvent(event);
  }
}

// The window sees Esc and F1 before its controls do.
bool NTBrimF::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_F1) {
      keyPressEvent(key);
      return true;
    }
  } else if (watched == drvUser_ && event->type() == QEvent::FocusIn) {
    // Only a move of the user's to the drive list resets the display, not
    // the focus coming back when a map window closes.
    const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
    if (why == Qt::MouseFocusReason || why == Qt::TabFocusReason || why == Qt::BacktabFocusReason ||
        why == Qt::ShortcutFocusReason)
      Guard([] { AdmitCommand(DrvUser_GotFocus); });
  }
  return QMainWindow::eventFilter(watched, event);
}

void NTBrimF::closeEvent(QCloseEvent* event) {
  // While a command runs, closing only asks it to stop.
  if (Form_QueryUnload() || CommandRunning()) {
    ErrorState.Failed = kTrue;
    event->ignore();
    return;
  }
  help_->close();
  event->accept();
}

}  // namespace vr
