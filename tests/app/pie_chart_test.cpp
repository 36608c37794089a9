// The free/used pie chart: its angles and label from the cluster counts, the
// pixels of both slices, and when the shell draws it (display reset, drive
// change, the end of a volume command) on real volumes.
#include "app/charts/pie_chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "app/shell.h"
#include "app/view_map.h"
#include "fake_shell.h"
#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "recording_chart.h"
#include "support/fat_fixtures.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr::test {
namespace {

namespace ts = testsupport;
constexpr double kPi = std::numbers::pi;

TEST(PieFigures, AnglesAndLabelsFollowTheFreeShare) {
  struct Case {
    int64_t free, total;
    double angle;
    int percent;
    const char* label;
  };
  const Case cases[] = {
      {750, 1000, 0.75 * 6.28318, 75, "Free 75%"},
      {250, 1000, 0.25 * 6.28318, 25, "Used 75%"},
      // Exactly half is not more than half: the used share is named.
      {1, 2, 3.14159, 50, "Used 50%"},
      // Halves round to even.
      {1, 8, 0.125 * 6.28318, 12, "Used 88%"},
      {3, 8, 0.375 * 6.28318, 38, "Used 62%"},
      {5, 8, 0.625 * 6.28318, 62, "Free 62%"},
      // A full volume keeps a sliver of free slice, an empty one of used.
      {0, 5000, 0.02, 0, "Used 100%"},
      {5000, 5000, 6.27, 100, "Free 100%"},
      {1, 100000, 0.02, 0, "Used 100%"},
  };
  for (const Case& c : cases) {
    const PieFigures f = Pie_Figures(c.free, c.total);
    EXPECT_NEAR(f.freeAngle, c.angle, 1e-9) << c.free << "/" << c.total;
    EXPECT_EQ(f.freePercent, c.percent) << c.free << "/" << c.total;
    EXPECT_EQ(f.label, c.label) << c.free << "/" << c.total;
  }
}

class PieTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    form.boxes[Control::DrvUser] = {420, 8, 240, 24};
    form.boxes[Control::picMap] = {418, 333, 380, 250};
    previous = SetMainCanvas(&form);
    saved = VolumeSession;
  }
  void TearDown() override {
    SetMainCanvas(previous);
    VolumeSession = saved;
    ShellTest::TearDown();
  }
  // The pixel at `radius` from the centre in the direction `angle`
  // (counter-clockwise from 3 o'clock).
  int Polar(double angle, double radius) const {
    return form.At(cx + static_cast<int>(std::lround(radius * std::cos(angle))),
                   cy - static_cast<int>(std::lround(radius * std::sin(angle))));
  }
  void Pie(int64_t free, int64_t total) {
    VolumeSession.FreeClusters = free;
    VolumeSession.TotalClusters = total;
    Draw_Pie();
  }

  RecordingChart form{800, 600};
  FormCanvas* previous = nullptr;
  VolumeSessionData saved;
  const int cx = 460, cy = (8 + 24 + 333) / 2;
};

TEST_F(PieTest, FreeSliceIsWhiteUsedSliceLightBlue) {
  Pie(750, 1000);  // free slice from 3 o'clock round to 6 o'clock
  EXPECT_EQ(Polar(kPi / 2, 25), kBrightWhite);
  EXPECT_EQ(Polar(kPi, 25), kBrightWhite);
  EXPECT_EQ(Polar(1.25 * kPi, 25), kBrightWhite);
  EXPECT_EQ(Polar(1.75 * kPi, 25), kLightBlue);
  EXPECT_EQ(Polar(1.6 * kPi, 30), kLightBlue);
  // Both slices' edges are radii, the pie has a black outline and a white
  // ring round it; nothing beyond.
  EXPECT_EQ(form.At(cx + 20, cy), kBlack);
  EXPECT_EQ(form.At(cx, cy + 20), kBlack);
  EXPECT_EQ(form.At(cx, cy - 40), kBlack);
  EXPECT_EQ(form.At(cx - 40, cy), kBlack);
  EXPECT_EQ(form.At(cx, cy - 41), kBrightWhite);
  EXPECT_EQ(form.At(cx + 41, cy), kBrightWhite);
  EXPECT_EQ(form.At(cx, cy - 43), RecordingChart::kBlank);
  EXPECT_EQ(form.At(cx + 30, cy - 30), RecordingChart::kBlank);  // outside the circle
  // The label names the larger share, black, above the centre.
  ASSERT_EQ(form.texts.size(), 1u);
  EXPECT_EQ(form.texts[0].text, "Free 75%");
  EXPECT_EQ(form.texts[0].colour, kBlack);
  EXPECT_EQ(form.texts[0].y, cy - 13);
  EXPECT_EQ(form.texts[0].x, cx - form.TextWidth("Free 75%") / 2);
}

TEST_F(PieTest, MostlyUsedVolumeNamesTheUsedShareInWhiteBelowTheCentre) {
  Pie(250, 1000);
  EXPECT_EQ(Polar(0.25 * kPi, 25), kBrightWhite);
  EXPECT_EQ(Polar(kPi, 25), kLightBlue);
  ASSERT_EQ(form.texts.size(), 1u);
  EXPECT_EQ(form.texts[0].text, "Used 75%");
  EXPECT_EQ(form.texts[0].colour, kBrightWhite);
  EXPECT_EQ(form.texts[0].y, cy + 2);
}

TEST_F(PieTest, FullAndEmptyVolumesKeepASliverOfTheOtherSlice) {
  Pie(0, 4000);
  for (double a : {0.5, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0}) EXPECT_EQ(Polar(a, 30), kLightBlue) << a;
  EXPECT_EQ(form.texts.back().text, "Used 100%");

  form.Clear();
  Pie(4000, 4000);
  for (double a : {0.5, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0}) EXPECT_EQ(Polar(a, 30), kBrightWhite) << a;
  EXPECT_EQ(form.texts.back().text, "Free 100%");
}

TEST_F(PieTest, NothingForAVolumeWithoutClusters) {
  Pie(0, 0);
  EXPECT_EQ(form.Painted(), 0);
  EXPECT_TRUE(form.texts.empty());
}

TEST_F(PieTest, LeavesTheMessageCursorWhereItWas) {
  ReportLine("first line");
  shell.MsgWrite("half", kBlack);
  const int x = shell.MsgX(), y = shell.MsgY();
  Pie(600, 1000);
  EXPECT_EQ(shell.MsgX(), x);
  EXPECT_EQ(shell.MsgY(), y);
}

// A FAT16 volume made by mkfs.fat and mtools, its free share known from its
// own allocation table.
class PieOnVolumeTest : public PieTest {
 protected:
  static void SetUpTestSuite() {
    volume = new ts::FatVolume(ts::FatImagePath("pie"), ts::FatFormat{});
    volume->Mkdir("DATA");
    volume->Write("DATA/BIG.BIN", 3000000, 7);
    volume->Write("SMALL.TXT", 700, 8);
  }
  static void TearDownTestSuite() {
    ts::RemoveOnExit remove{volume->Path()};
    delete volume;
    volume = nullptr;
  }
  void SetUp() override {
    PieTest::SetUp();
    platform::RegisterBuiltinDrivers();
    ResetHooks();  // the real pie chart
    Hooks().ViewMap = [] { ViewMap(); };
  }
  void UseVolume() {
    platform::SetDriveMap({{'c', volume->Path(), {}}, {'d', home + "/missing.img", {}}});
  }
  // "Free P%" or "Used P%" worked out from the first FAT.
  static std::string ExpectedLabel() {
    const auto image = ts::ReadImageFile(volume->Path());
    const ts::PlainFatLayout layout = ts::ParseFatLayout(image);
    int64_t free = 0;
    for (uint32_t c = 2; c < layout.clusters + 2; ++c) free += ts::PlainFatEntry(image, c) == 0;
    const double share = static_cast<double>(free) / layout.clusters;
    const int p = static_cast<int>(std::nearbyint(share * 100));
    return share * 6.28318 > 3.14159 ? "Free " + std::to_string(p) + "%"
                                     : "Used " + std::to_string(100 - p) + "%";
  }
  static ts::FatVolume* volume;
};
ts::FatVolume* PieOnVolumeTest::volume = nullptr;

TEST_F(PieOnVolumeTest, ChoosingADriveDrawsItsPie) {
  UseVolume();
  Form_Load();  // selects drive C
  ASSERT_EQ(shell.DrvUserText().substr(0, 2), "c:");
  ASSERT_FALSE(form.texts.empty());
  EXPECT_EQ(form.texts.back().text, ExpectedLabel());
  EXPECT_GT(form.Painted(), 4000);
  EXPECT_GT(VolumeSession.TotalClusters, 0);
  EXPECT_GT(VolumeSession.TotalSectors, 0);
  EXPECT_TRUE(shell.Lines().empty());
}

TEST_F(PieOnVolumeTest, TheDisplayResetDrawsThePieAgain) {
  UseVolume();
  Form_Load();
  form.Clear();
  Drive__Click();
  ASSERT_EQ(form.texts.size(), 1u);
  EXPECT_EQ(form.texts[0].text, ExpectedLabel());
}

TEST_F(PieOnVolumeTest, ADriveThatCannotBeReadSaysSoAndDrawsNothing) {
  UseVolume();
  Form_Load();
  form.Clear();
  DebugLogPath = home + "/log.txt";  // collects every report line
  Select_Drive(1);
  EXPECT_EQ(form.Painted(), 0);
  EXPECT_TRUE(form.texts.empty());
  // Said once, with the path and the system's reason; the message area is
  // cleared before the last line.
  const std::vector<std::string> lines = {"Unable to access d:\\",
                                          "d: " + home + "/missing.img: No such file or directory",
                                          "Unable to view d: []"};
  EXPECT_EQ(shell.Lines(), std::vector<std::string>{lines[2]});
  EXPECT_EQ(DebugLogText, lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n");
}

TEST_F(PieOnVolumeTest, NoDriveSelectedNoPieNoMessage) {
  Show_PiChart();
  EXPECT_EQ(form.Painted(), 0);
  EXPECT_TRUE(shell.Lines().empty());
}

TEST_F(PieOnVolumeTest, AVolumeCommandEndsWithThePieUnlessTheListIsShown) {
  UseVolume();
  Form_Load();
  for (bool listShown : {false, true}) {
    SCOPED_TRACE(listShown);
    shell.rec.onShowMap = [&](MapKind, const std::string&) {
      form.Clear();  // the map window covers the area
      if (listShown) shell.SetVisible(Control::frmInuse, true);
    };
    ViewMap__Click();
    EXPECT_EQ(shell.rec.mapWindows.size(), listShown ? 2u : 1u);
    if (listShown) {
      EXPECT_EQ(form.Painted(), 0);
    } else {
      ASSERT_EQ(form.texts.size(), 1u);
      EXPECT_EQ(form.texts[0].text, ExpectedLabel());
    }
  }
}

}  // namespace
}  // namespace vr::test
