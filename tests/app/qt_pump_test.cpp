// The main window's message pump: serving the queue costs nothing when it
// was served less than 10 ms ago, and Esc during a Fast View of a large
// volume still reaches the stop flag within that time and ends the scan
// before the next record.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <filesystem>

#include "app/drive_list.h"
#include "app/pump_gate.h"
#include "app/scans.h"
#include "drivers/builtin_drivers.h"
#include "qt_fixture.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/session.h"

namespace vr::test {
namespace {

TEST(PumpGate, ServesOnlyWhenTenMillisecondsHavePassed) {
  int64_t now = 5000000;
  PumpGate gate([&] { return now; });
  EXPECT_TRUE(gate.Due()) << "the first call serves";
  now += kPumpIntervalUs - 1;
  EXPECT_FALSE(gate.Due());
  now += 1;
  EXPECT_TRUE(gate.Due());
  EXPECT_FALSE(gate.Due());
  now += 5 * kPumpIntervalUs;  // a long gap serves once, not five times
  EXPECT_TRUE(gate.Due());
  EXPECT_FALSE(gate.Due());
  EXPECT_EQ(gate.Served(), 3);
  EXPECT_EQ(gate.Skipped(), 3);
}

// Notes how many records had been read when Esc reached the map window.
class KeyWitness : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::KeyPress && recordsAtKey < 0) recordsAtKey = VolumeSession.RecordsRead;
    return false;
  }
  int64_t recordsAtKey = -1;
};

using QtPumpTest = QtWindowTest;

TEST_F(QtPumpTest, EscDuringAFastViewOfALargeVolumeStopsItAtTheNextRecord) {
  if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
  const std::string image = testsupport::TempPath("pump-large-ntfs.img");
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 128;
  options.large = true;
  options.largeFiles = 20000;
  testsupport::NtfsFixture fixture;
  std::string error;
  ASSERT_TRUE(testsupport::BuildNtfsFixture(image, options, fixture, error)) << error;
  struct Remove {
    std::string path;
    ~Remove() { std::filesystem::remove(path); }
  } remove{image};

  platform::RegisterBuiltinDrivers();
  platform::SetDriveMap({{'c', image, {}}});
  Install_Map_Scans();
  window->show();
  Fill_Drive_List();
  Select_Drive(Find_Drive_Entry('c'));

  // The pump's clock runs with the scan: 100 records to the pump's 10 ms.
  // When 3000 records have been read, Esc is posted to the map window, as
  // the window system would between two calls of the pump.
  constexpr int64_t kUsPerRecord = kPumpIntervalUs / 100;
  constexpr int64_t kEscAt = 3000;
  int64_t postedAt = -1;
  KeyWitness witness;
  window->Pump().SetClock([&] {
    const int64_t read = VolumeSession.RecordsRead;
    if (postedAt < 0 && read >= kEscAt) {
      QWidget* map = QApplication::activeModalWidget();
      if (map == nullptr) map = window->findChild<QDialog*>("NTBrimMapx");
      if (map != nullptr) {
        map->installEventFilter(&witness);
        QCoreApplication::postEvent(
            map, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        postedAt = read;
      }
    }
    return read * kUsPerRecord;
  });
  const int64_t servedBefore = window->Pump().Served();
  const int64_t readBefore = VolumeSession.RecordsRead;
  ViewMap__Click();
  window->Pump().SetClock(PumpGate::SteadyMicroseconds);
  const int64_t read = VolumeSession.RecordsRead - readBefore;

  ASSERT_GE(postedAt, kEscAt) << "the scan never reached the point of the key";
  ASSERT_GE(witness.recordsAtKey, postedAt) << "Esc never reached the map window";
  // Within the pump's 10 ms (100 records of this clock) of being posted...
  EXPECT_LE(witness.recordsAtKey - postedAt, 100);
  // ...and not one record more after the stop flag was set.
  EXPECT_EQ(VolumeSession.RecordsRead, witness.recordsAtKey);
  EXPECT_LT(read, 20000) << "the scan did not run to its end";
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  const std::vector<std::string> lines = MessageLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "User stop"), lines.end());
  for (const std::string& l : lines) EXPECT_NE(l.rfind("Files=", 0), 0u) << l;
  // The queue was served about once per 100 records, not once per record.
  const int64_t served = window->Pump().Served() - servedBefore;
  EXPECT_GE(served, read / 100 - 1);
  EXPECT_LE(served, read / 100 + 10);
}

}  // namespace
}  // namespace vr::test
