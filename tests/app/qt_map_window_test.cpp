// The map windows NTBrimMapx and NTBrimMap, off screen.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTest>

#include "app/qt/map_dialog.h"
#include "qt_fixture.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

using QtMapWindowTest = QtWindowTest;

TEST_F(QtMapWindowTest, MapWindowWithoutItsScanClosesItself) {
  window->show();
  window->ShowMapWindow(MapKind::Ntfs, "NTFS Checked View c:");
  EXPECT_EQ(ErrorState.Failed, -1);
  const std::vector<std::string> lines = MessageLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "The NTFS scan is not available yet."),
            lines.end());
}

TEST_F(QtMapWindowTest, MapWindowRefusesToCloseWhileItsScanRuns) {
  QStringList drawn;
  bool closed = true;
  QString caption;
  SetMapScan(MapKind::Fat, [&](MapWindowLogic& m) {
    auto& dialog = dynamic_cast<NTBrimMapDialog&>(m.Window());
    caption = dialog.windowTitle();
    closed = dialog.close();
    drawn = dialog.DrawnTexts();
    m.Closing_Step();
  });
  window->show();
  window->ShowMapWindow(MapKind::Fat, "FAT Defrag c:");
  EXPECT_FALSE(closed);
  EXPECT_EQ(caption, "FAT Defrag c:");
  EXPECT_TRUE(drawn.contains("User stop:"));
  EXPECT_TRUE(drawn.contains("Please wait"));
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(QtMapWindowTest, EscInTheMapWindowStopsTheScan) {
  bool stillOpen = false;
  SetMapScan(MapKind::Ntfs, [&](MapWindowLogic& m) {
    auto& dialog = dynamic_cast<NTBrimMapDialog&>(m.Window());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    stillOpen = dialog.isVisible();
    m.Closing_Step();
  });
  window->show();
  window->ShowMapWindow(MapKind::Ntfs, "NTFS Fast View c:");
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(QtMapWindowTest, PlacedOverTheDriveListAndCaptioned) {
  QPoint at;
  QString name;
  SetMapScan(MapKind::Ntfs, [&](MapWindowLogic& m) {
    auto& dialog = dynamic_cast<NTBrimMapDialog&>(m.Window());
    at = dialog.pos();
    name = dialog.objectName();
    m.Closing_Step();
  });
  MapLeftOffset = 3;
  MapTopOffset = 40;
  window->move(50, 60);
  window->show();
  window->ShowMapWindow(MapKind::Ntfs, "NTFS Fast View c:");
  EXPECT_EQ(at, QPoint(window->x() + window->DrvUser()->x() + 3, window->y() + 40));
  EXPECT_EQ(name, "NTBrimMapx");
}

}  // namespace
}  // namespace vr::test
