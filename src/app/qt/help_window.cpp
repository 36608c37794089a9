#include "app/qt/help_window.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/help_topics.h"

// The help pages are compiled into the program's library; a static library
// needs its resources registered explicitly.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace vr {

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
  InitHelpResources();
  setObjectName("HelpWindow");
  setWindowTitle("VoduRU Help");
  setModal(false);
  resize(560, 480);
  browser_ = new QTextBrowser(this);
  browser_->setSearchPaths({":/help"});
  browser_->setOpenExternalLinks(false);

  auto* contents = new QPushButton("&Contents", this);
  auto* back = new QPushButton("&Back", this);
  auto* close = new QPushButton("C&lose", this);
  connect(contents, &QPushButton::clicked, this,
          [this] { ShowPage(QString::fromUtf8(kHelpContents)); });
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  back->setEnabled(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(contents);
  buttons->addWidget(back);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
}

void HelpWindow::ShowPage(const QString& page) {
  browser_->setSource(QUrl("qrc:/help/" + page));
  show();
  raise();
  activateWindow();
}

}  // namespace vr
