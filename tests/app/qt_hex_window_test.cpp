// The structure viewer window NTBrimHex, off screen: opened from the Tools
// menu on a real volume, its boxes, keys, menus, scroll bar, XOR marking and
// the clicks on FAT folders.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>

#include "app/hex_command.h"
#include "app/qt/hex_window.h"
#include "drivers/builtin_drivers.h"
#include "qt_fixture.h"
#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/session.h"

namespace vr::test {
namespace {

namespace ts = testsupport;

class QtHexWindowTest : public QtWindowTest {
 protected:
  void SetUp() override {
    QtWindowTest::SetUp();
    platform::RegisterBuiltinDrivers();
  }
  void TearDown() override {
    Close_Drive(VolumeSession.VolumeHandle);
    QtWindowTest::TearDown();
  }
  // A viewer window of its own on `image`, loaded by its timer.
  std::unique_ptr<NTBrimHex> OpenViewer(const std::string& image) {
    platform::SetDriveMap({platform::DriveEntry{'c', image, {}}});
    EXPECT_TRUE(Open_Hex_Volume("c: [VODURU]"));
    auto hex = std::make_unique<NTBrimHex>(window.get());
    hex->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return hex->Viewer().Loaded(); }, 5000));
    return hex;
  }
  static void Enter(QLineEdit* box, const QString& text) {
    box->clear();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
  }
};

TEST_F(QtHexWindowTest, ToolsHexViewOpensTheViewerAndEscClosesIt) {
  const auto& fixture = ts::SharedNtfsFixture();
  const std::vector<uint8_t> before = ts::ReadFileBytes(fixture.Path());
  platform::SetDriveMap({platform::DriveEntry{'c', fixture.Path(), {}}});
  window->DrvUser()->addItem("c: [VODURU]");
  window->DrvUser()->setCurrentIndex(0);
  window->show();

  QString caption, fileBox, sectorBox;
  bool findVisible = false, dirVisible = true, scroll = false, closedByEsc = false;
  int scrollMax = -1;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* hex = qobject_cast<NTBrimHex*>(QApplication::activeModalWidget());
    if (hex == nullptr || !hex->Viewer().Loaded()) return;
    poll.stop();
    caption = hex->windowTitle();
    fileBox = hex->Box(HexBox::File)->text();
    sectorBox = hex->Box(HexBox::Block)->text();
    findVisible = hex->FindMenu()->menuAction()->isVisible();
    dirVisible = hex->Box(HexBox::Dir)->isVisible();
    // The root folder's first index block: 8 pages of 512 bytes.
    Enter(hex->Box(HexBox::File), "5");
    EXPECT_EQ(hex->ShowIndxAction()->shortcut(), QKeySequence(Qt::Key_F5));
    hex->ShowIndxAction()->trigger();
    scroll = hex->VscBlock()->isVisible();
    scrollMax = hex->VscBlock()->maximum();
    QTest::keyClick(hex, Qt::Key_Escape);  // back to the record
    EXPECT_EQ(hex->Box(HexBox::Indx)->text(), "");
    EXPECT_TRUE(hex->isVisible());
    QTest::keyClick(hex, Qt::Key_Escape);  // closes
    closedByEsc = !hex->isVisible();
  });
  poll.start();
  RunMenuCommand(MenuItem::Hex_);
  poll.stop();

  EXPECT_EQ(caption, "Hex c:");
  EXPECT_EQ(fileBox, "0");
  EXPECT_FALSE(sectorBox.isEmpty());
  EXPECT_TRUE(findVisible);
  EXPECT_FALSE(dirVisible);
  EXPECT_TRUE(scroll);
  EXPECT_EQ(scrollMax, 4096 - 512);
  EXPECT_TRUE(closedByEsc);
  EXPECT_EQ(window->HelpContext(), 150);
  EXPECT_EQ(VolumeSession.VolumeHandle, -1) << "the viewer closes the volume";
  EXPECT_EQ(ts::ReadFileBytes(fixture.Path()), before);
}

TEST_F(QtHexWindowTest, UnsupportedDrivesDoNothing) {
  window->DrvUser()->addItem("q: [NONE]");
  window->DrvUser()->setCurrentIndex(0);
  bool opened = false;
  SetHexWindowOpener([&] { opened = true; });
  Hex__Click();
  EXPECT_FALSE(opened);
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
}

TEST_F(QtHexWindowTest, BoxesKeysMenusPagesAndXorMarks) {
  const auto& fixture = ts::SharedNtfsFixture();
  auto hex = OpenViewer(fixture.Path());
  ASSERT_EQ(hex->objectName(), "NTBrimHex");
  std::vector<std::string> captions;
  for (QAction* a : hex->FindMenu()->actions()) captions.push_back(a->text().toStdString());
  ASSERT_EQ(captions.size(), 16u);
  EXPECT_EQ(captions[0], "&FileName");
  EXPECT_EQ(captions[7], "Size > 1Mb");
  EXPECT_EQ(hex->NextFileAction()->text(), "Nextfile (F3)");
  EXPECT_EQ(hex->NextFileAction()->shortcut(), QKeySequence(Qt::Key_F3));
  EXPECT_EQ(hex->ShowIndxAction()->text(), "Show INDX (F5)");
  EXPECT_EQ(hex->PicData()->font().family(), QFont("Courier New").family());
  EXPECT_TRUE(hex->PicData()->fontInfo().fixedPitch());

  // Digits and Backspace only.
  QLineEdit* file = hex->Box(HexBox::File);
  file->clear();
  QTest::keyClicks(file, "1x2 -3");
  EXPECT_EQ(file->text(), "123");
  QTest::keyClick(file, Qt::Key_Backspace);
  EXPECT_EQ(file->text(), "12");
  QTest::keyClick(file, Qt::Key_Return);
  EXPECT_EQ(hex->Viewer().CurrentRecord(), 12);
  EXPECT_TRUE(hex->VscBlock()->isVisible());
  EXPECT_EQ(hex->VscBlock()->maximum(), 512);

  // The scroll bar pages through the record.
  hex->VscBlock()->setValue(512);
  EXPECT_EQ(hex->Viewer().PageOffset(), 512);

  // Marking the same page twice leaves it unmarked.
  Enter(file, "0");
  const QImage marked = hex->PicData()->Canvas();
  const QImage markedText = hex->PicText()->Canvas();
  hex->MarkFields();
  const QImage plain = hex->PicData()->Canvas();
  EXPECT_NE(plain, marked);
  EXPECT_NE(hex->PicText()->Canvas(), markedText);
  hex->MarkFields();
  EXPECT_EQ(hex->PicData()->Canvas(), marked);
  EXPECT_EQ(hex->PicText()->Canvas(), markedText);
  // Unmarked, the hexadecimal picture holds only black text on white.
  for (int y = 0; y < plain.height(); ++y)
    for (int x = 0; x < plain.width(); ++x) {
      const QColor c = plain.pixelColor(x, y);
      ASSERT_TRUE(c.red() == c.green() && c.green() == c.blue()) << x << "," << y;
    }

  if (const char* png = std::getenv("VODURU_HEX_PNG")) hex->grab().save(png);

  // One sector: no scroll bar.
  Enter(hex->Box(HexBox::Block), "0");
  EXPECT_FALSE(hex->VscBlock()->isVisible());
  EXPECT_EQ(hex->Viewer().Block().size(), 512u);

  // A search from the menu; F3 after the last match beeps.
  hex->FindAction(FindKind::Multi80h)->trigger();
  const Long first = hex->Viewer().CurrentRecord();
  EXPECT_GT(first, 0);
  int beeps = hex->Beeps();
  while (hex->Beeps() == beeps) hex->NextFileAction()->trigger();
  EXPECT_EQ(hex->Box(HexBox::File)->text().toLongLong(), hex->Viewer().CurrentRecord().Value());
  // "Entry x0h" asks for the type; "8" only beeps.
  hex->answerHook = [](const std::string& prompt, std::string& answer) {
    EXPECT_EQ(prompt, "Hex entry type x0");
    answer = "8";
    return true;
  };
  beeps = hex->Beeps();
  hex->FindAction(FindKind::EntryX0h)->trigger();
  EXPECT_EQ(hex->Beeps(), beeps + 1);

  hex->close();
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
}

TEST_F(QtHexWindowTest, FatFoldersOpenWithAClickOnTheirEntry) {
  ts::FatVolume volume = ts::MakeFat16Fixture("hexwin-fat16");
  ts::RemoveOnExit remove{volume.Path()};
  auto hex = OpenViewer(volume.Path());
  EXPECT_EQ(hex->DirLabel()->text(), "RootDir");
  EXPECT_TRUE(hex->Box(HexBox::Dir)->isVisible());
  EXPECT_FALSE(hex->Box(HexBox::File)->isVisible());
  EXPECT_FALSE(hex->FindMenu()->menuAction()->isVisible());
  // DOCS is the second entry of the root: rows 2 and 3.
  ASSERT_EQ(GetAscii(hex->Viewer().Block().Span(), 32, 11), "DOCS       ");
  HexPicture* text = hex->PicText();
  QTest::mouseClick(text, Qt::LeftButton, {},
                    QPoint(1 + 2 * text->CharWidth(), 1 + 3 * text->LineHeight() + 2));
  EXPECT_EQ(hex->Viewer().DirDepth(), 2u);
  EXPECT_EQ(GetAscii(hex->Viewer().Block().Span(), 0, 11), ".          ");
  QTest::keyClick(hex.get(), Qt::Key_Escape);
  EXPECT_EQ(hex->Viewer().DirDepth(), 1u);
  EXPECT_TRUE(hex->isVisible());
  QTest::keyClick(hex.get(), Qt::Key_Escape);
  EXPECT_FALSE(hex->isVisible());
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
}

}  // namespace
}  // namespace vr::test
