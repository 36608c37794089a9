// The real main window and map windows, off screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <memory>

#include "app/command_line.h"
#include "app/map_window.h"
#include "app/qt/help_window.h"
#include "app/qt/main_window.h"
#include "app/qt/map_dialog.h"
#include "app/qt/message_area.h"
#include "app/shell.h"
#include "app/unattended.h"
#include "app/version_info.h"
#include "platform/platform.h"
#include "qt_fixture.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

TEST_F(QtWindowTest, CaptionAndMenuBar) {
  EXPECT_EQ(window->windowTitle(), "VoduRU");
  std::vector<std::string> titles;
  for (QAction* a : window->menuBar()->actions()) titles.push_back(a->text().toStdString());
  EXPECT_EQ(titles, (std::vector<std::string>{"&Drive", "&Options", "&Tools", "&Help"}));
  EXPECT_EQ(Captions(MenuItem::Drive_), (std::vector<std::string>{"&Checked View", "&Fast View",
                                                                  "-", "&Defrag", "-", "E&xit"}));
  EXPECT_EQ(Captions(MenuItem::Options_),
            (std::vector<std::string>{"&Pack after Defrag", "&View after Defrag", "-",
                                      "&Defrag huge files", "Pac&k huge files"}));
  EXPECT_EQ(
      Captions(MenuItem::Tools_),
      (std::vector<std::string>{"&Checksum", "&Validate", "-", "&Scan Files", "-", "&Hex View"}));
  EXPECT_EQ(Captions(MenuItem::Help_), (std::vector<std::string>{"&Topics", "&About VoduRU"}));
}

TEST_F(QtWindowTest, ValidateStartsDisabledAndOptionsCarryCheckMarks) {
  EXPECT_FALSE(window->Action(MenuItem::Validate_)->isEnabled());
  EXPECT_TRUE(window->Action(MenuItem::Checksum_)->isEnabled());
  for (MenuItem m : {MenuItem::Pack_, MenuItem::Review_, MenuItem::DefragHuge_, MenuItem::PackHuge_,
                     MenuItem::Checksum_})
    EXPECT_TRUE(window->Action(m)->isCheckable());
  EXPECT_FALSE(window->Action(MenuItem::Scan_)->isCheckable());
}

TEST_F(QtWindowTest, CommandsAssignTheirHelpContexts) {
  std::vector<std::pair<int, int>> flags;
  Hooks().ViewMap = [&] { flags.emplace_back(CheckedScan, DefragMode); };
  window->Action(MenuItem::Validate_)->setEnabled(true);
  const std::pair<MenuItem, int> cases[] = {{MenuItem::Scan_, 280},    {MenuItem::ViewMap_, 40},
                                            {MenuItem::Defrag_, 120},  {MenuItem::Validate_, 390},
                                            {MenuItem::TimingD_, 390}, {MenuItem::Hex_, 150},
                                            {MenuItem::Checksum_, 10}};
  for (const auto& [item, context] : cases) {
    window->SetHelpContext(0);
    window->Action(item)->trigger();
    EXPECT_EQ(window->HelpContext(), context) << static_cast<int>(item);
  }
  EXPECT_EQ(flags, (std::vector<std::pair<int, int>>{{-1, -1}, {0, -1}, {-1, 0}}));
  // Opening the Drive menu resets the display: context 10.
  window->SetHelpContext(0);
  emit window->MenuOf(MenuItem::Drive_)->aboutToShow();
  EXPECT_EQ(window->HelpContext(), 10);
}

TEST_F(QtWindowTest, OptionItemsStoreTheirSettings) {
  window->SetMenuChecked(MenuItem::DefragHuge_, false);
  window->Action(MenuItem::DefragHuge_)->trigger();
  EXPECT_TRUE(window->MenuChecked(MenuItem::DefragHuge_));
  EXPECT_EQ(platform::Settings().Get("Options", "DefragHuge"), "Yes");
  EXPECT_EQ(DefragHugeFiles, -1);
}

TEST_F(QtWindowTest, EscKeySetsFailed) {
  window->show();
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_EQ(ErrorState.Failed, -1);
  ErrorState.Failed = 0;
  QTest::keyClick(window->DrvUser(), Qt::Key_Escape);
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(QtWindowTest, CloseWhileBusyIsRefusedOnce) {
  window->show();
  SetBusy();
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_TRUE(window->close());
}

TEST_F(QtWindowTest, BusyDisablesTheMenusAndTheDriveList) {
  SetBusy();
  for (MenuItem m :
       {MenuItem::Drive_, MenuItem::Options_, MenuItem::Tools_, MenuItem::Help_, MenuItem::Hex_})
    EXPECT_FALSE(window->Action(m)->isEnabled());
  EXPECT_FALSE(window->DrvUser()->isEnabled());
  SetUnBusy();
  EXPECT_TRUE(window->Action(MenuItem::Drive_)->isEnabled());
  EXPECT_TRUE(window->DrvUser()->isEnabled());
}

TEST_F(QtWindowTest, ReportLinesAreWrittenTopToBottom) {
  Cls_Pos();
  ReportLine("first");
  ReportPiece("AllocUnit=");
  ReportLine("0.5Kb");
  ReportError("Drive Busy");
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{"first", "AllocUnit=0.5Kb", "Drive Busy"}));
  EXPECT_EQ(window->MsgY(), 4 + 3 * window->Messages()->LineHeight());
  Cls_Pos();
  EXPECT_TRUE(MessageLines().empty());
}

TEST_F(QtWindowTest, MapPictureIsSizedForTheGrid) {
  window->PlaceMap(75 * 5 + 5, 47 * 5 + 15);
  const QWidget* map = window->ControlWidget(Control::picMap);
  EXPECT_EQ(map->width(), 380);
  EXPECT_EQ(map->height(), 250);
  const QWidget* client = window->Messages();
  EXPECT_EQ(client->width() - (map->x() + map->width()), 2);
  EXPECT_EQ(client->height() - (map->y() + map->height()), 2);
  const auto* frame = qobject_cast<QGroupBox*>(window->ControlWidget(Control::frmInuse));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->title(), "Fragmented files");
  EXPECT_EQ(map->y() - (frame->y() + frame->height()), 4);
}

TEST_F(QtWindowTest, HelpPagesExistForEveryContext) {
  for (int context : {0, 10, 40, 120, 150, 280, 390}) {
    window->ShowHelp(context);
    QTextBrowser* b = window->Help()->Browser();
    EXPECT_TRUE(window->Help()->isVisible());
    EXPECT_FALSE(b->toPlainText().isEmpty()) << context;
  }
  window->ShowHelp(280);
  EXPECT_TRUE(window->Help()->Browser()->toPlainText().contains("Checked View"));
  window->ShowHelp(0);
  EXPECT_TRUE(window->Help()->Browser()->source().toString().endsWith("contents.html"));
}

TEST_F(QtWindowTest, F1OpensTheTopicOfTheCurrentContext) {
  window->show();
  window->SetHelpContext(120);
  QTest::keyClick(window.get(), Qt::Key_F1);
  EXPECT_TRUE(window->Help()->Browser()->source().toString().endsWith("defrag.html"));
}

TEST_F(QtWindowTest, WindowImageIsSaved) {
  Form_Load();
  const std::string file = testsupport::TempPath("main-window.png");
  ASSERT_TRUE(window->SaveWindowImage(file));
  QImage image(QString::fromStdString(file));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 800);
  EXPECT_GT(image.height(), 600);  // the client area and the menu bar
}

// The whole road of a command on a real volume: the drive list, ViewMap,
// the map window and the report.
TEST_F(QtWindowTest, CheckedViewOfARealFatVolume) {
  const std::string image = testsupport::TempPath("qt-fat.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1024, 12, "", "VODUC", error)) << error;
  platform::SetDriveMap({{'c', image, {}}});
  const std::string png = testsupport::TempPath("map-%d.png");
  const ParseResult parsed = ParseCommandLine({"--checked-view", "c", "--map-png", png});
  ASSERT_TRUE(parsed.ok);
  Launch = parsed.options;
  // Started as the program starts: inside the event loop, which the run
  // ends with its exit code.
  QTimer::singleShot(0, window.get(), [] { Form_Load(); });
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  limit.start(60000);
  EXPECT_EQ(QApplication::exec(), 1);  // the scan could not run
  const std::vector<std::string> lines = MessageLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Drive=c: [VODUC]  FS=FAT");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "The FAT scan is not available yet."),
            lines.end());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(MapPngPath(png, 'c'))));
  EXPECT_TRUE(RunFailed);
  EXPECT_TRUE(window->DrvUser()->isVisible());
}

TEST_F(QtWindowTest, ChoosingADriveResetsTheDisplay) {
  platform::SetDriveMap({{'c', "/nowhere/c.img", {}}, {'d', "/nowhere/d.img", {}}});
  Hooks().Show_PiChart = [] {};  // the drives do not exist; the pie would say so
  Form_Load();
  ReportLine("old report");
  CheckedScan = 0;
  window->DrvUser()->setCurrentIndex(1);  // as the user does
  EXPECT_EQ(CheckedScan, -1);
  EXPECT_TRUE(MessageLines().empty());
  EXPECT_EQ(window->DrvUserText(), "d: []");
}

TEST_F(QtWindowTest, OnlyTheUsersMoveToTheDriveListResetsTheDisplay) {
  window->show();
  ReportLine("result of the last command");
  QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(window->DrvUser(), &back);
  EXPECT_EQ(MessageLines().size(), 1u);
  QFocusEvent tab(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(window->DrvUser(), &tab);
  EXPECT_TRUE(MessageLines().empty());
  EXPECT_EQ(window->HelpContext(), 10);
}

TEST_F(QtWindowTest, AboutBoxShowsTheVersionInformation) {
  QString title, text;
  // Reads and closes the box once it is up.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      title = box->windowTitle();
      text = box->text();
      box->close();
    }
  });
  poll.start(10);
  window->show();
  window->Action(MenuItem::About_)->trigger();
  EXPECT_EQ(title.toStdString(),
            std::string("About VoduRU ") + kFileDescription + "  -  Windows " + Win_Version());
  EXPECT_TRUE(text.contains(QString::fromUtf8(kLegalCopyright)));
  EXPECT_TRUE(text.contains(QString::fromUtf8(kComments)));
}

}  // namespace
}  // namespace vr::test
