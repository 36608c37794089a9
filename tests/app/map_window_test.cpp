// The life of a map window: the timer that starts the scan, the stop rules
// for Esc and close requests, and the closing step.
#include "app/map_window.h"

#include <gtest/gtest.h>

#include "app/shell.h"
#include "fake_shell.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

// A map window that records what is drawn on its status lines.
class FakeMapWindow : public MapWindowPort {
 public:
  struct Text {
    int left, top;
    std::string text;
    int colour;
  };
  struct Box {
    int x, y, width, height, colour;
  };
  std::vector<Text> texts;
  std::vector<Box> boxes;
  int unloads = 0;

  int Width() const override { return 380; }
  int Height() const override { return 40; }
  int TextHeight(const std::string&) const override { return 13; }
  int TextWidth(const std::string& t) const override { return 6 * static_cast<int>(t.size()); }
  void FillBox(int x, int y, int w, int h, int c) override { boxes.push_back({x, y, w, h, c}); }
  void DrawText(int left, int top, const std::string& t, int c) override {
    texts.push_back({left, top, t, c});
  }
  void Update() override {}
  void Unload() override { ++unloads; }

  // The last text drawn at the label (x 4) or value column of line y.
  std::string Label(int y) const { return Last(y, true); }
  std::string Value(int y) const { return Last(y, false); }

 private:
  std::string Last(int y, bool label) const {
    std::string out;
    for (const Text& t : texts)
      if (t.top == y && (t.left == 4) == label) out = t.text;
    return out;
  }
};

class MapWindowTest : public ShellTest {
 protected:
  void TearDown() override {
    SetMapScan(MapKind::Ntfs, nullptr);
    SetMapScan(MapKind::Fat, nullptr);
    ShellTest::TearDown();
  }
  FakeMapWindow window;
};

TEST_F(MapWindowTest, ScanNotBuiltSaysSoAndClosesTheWindow) {
  SetMapScan(MapKind::Ntfs, nullptr);  // whatever an earlier test installed
  const int runs = MapRunsCompleted;
  MapWindowLogic map(MapKind::Ntfs, window);
  EXPECT_FALSE(map.Done());
  map.Timer1_Timer();
  EXPECT_EQ(window.Label(kStatusLine1), "NTFS scan:");
  EXPECT_EQ(window.Value(kStatusLine1), "not available yet");
  EXPECT_TRUE(shell.HasLine("The NTFS scan is not available yet."));
  EXPECT_TRUE(map.Done());
  EXPECT_EQ(window.unloads, 1);
  EXPECT_EQ(MapRunsCompleted, runs + 1);
  // The command did not do its work.
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(MapWindowTest, TimerRunsTheScanOnce) {
  int scans = 0;
  SetMapScan(MapKind::Fat, [&](MapWindowLogic& m) {
    ++scans;
    m.Closing_Step();
  });
  MapWindowLogic map(MapKind::Fat, window);
  map.Timer1_Timer();
  map.Timer1_Timer();
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(window.unloads, 1);
}

TEST_F(MapWindowTest, EscStopsTheScanAndUnloadsOnlyWhenDone) {
  MapWindowLogic* running = nullptr;
  SetMapScan(MapKind::Ntfs, [&](MapWindowLogic& m) {
    running = &m;
    m.Form_KeyDown(27);
    EXPECT_EQ(ErrorState.Failed, -1);
    EXPECT_EQ(window.unloads, 0);
  });
  MapWindowLogic map(MapKind::Ntfs, window);
  map.Timer1_Timer();
  ASSERT_NE(running, nullptr);
  EXPECT_FALSE(map.Done());
  map.Closing_Step();
  EXPECT_EQ(window.unloads, 1);
  map.Form_KeyDown(13);  // not Esc
  EXPECT_EQ(window.unloads, 1);
  map.Form_KeyDown(27);
  EXPECT_EQ(window.unloads, 2);
}

TEST_F(MapWindowTest, CloseWhileRunningIsRefusedWithUserStop) {
  SetMapScan(MapKind::Ntfs, [&](MapWindowLogic& m) {
    Status_Value(kStatusLine1, window, "1234", kBlack);
    Status_Value(kStatusLine2, window, "abc", kBlack);
    window.boxes.clear();
    EXPECT_TRUE(m.Form_QueryUnload());
    EXPECT_EQ(ErrorState.Failed, -1);
    EXPECT_EQ(window.Label(kStatusLine1), "User stop:");
    EXPECT_EQ(window.Label(kStatusLine2), "Please wait");
    // Both values erased across the whole value column.
    EXPECT_EQ(window.Value(kStatusLine1), " ");
    EXPECT_EQ(window.Value(kStatusLine2), " ");
    int erased = 0;
    for (const auto& b : window.boxes)
      if (b.x == 380 - 160 && b.width == 160 && b.colour == kWhite) ++erased;
    EXPECT_EQ(erased, 2);
    m.Closing_Step();
  });
  MapWindowLogic map(MapKind::Ntfs, window);
  map.Timer1_Timer();
  EXPECT_FALSE(map.Form_QueryUnload());  // done: the close goes through
}

TEST_F(MapWindowTest, ClosingStepHidesTheHistogramsAndServesMessages) {
  shell.SetVisible(Control::picHistoF, true);
  shell.SetVisible(Control::PicHistoE, true);
  MapWindowLogic map(MapKind::Fat, window);
  map.Closing_Step();
  EXPECT_FALSE(shell.IsVisible(Control::picHistoF));
  EXPECT_FALSE(shell.IsVisible(Control::PicHistoE));
  EXPECT_EQ(std::count(shell.calls.begin(), shell.calls.end(), "DoEvents"), 1);
  EXPECT_TRUE(map.Done());
}

TEST_F(MapWindowTest, FatWindowGivesTheDriveListBackWhenUnloaded) {
  shell.SetVisible(Control::DrvUser, false);
  MapWindowLogic ntfs(MapKind::Ntfs, window);
  ntfs.Form_Unload();
  EXPECT_FALSE(shell.IsVisible(Control::DrvUser));
  MapWindowLogic fat(MapKind::Fat, window);
  fat.Form_Unload();
  EXPECT_TRUE(shell.IsVisible(Control::DrvUser));
}

TEST_F(MapWindowTest, PlacedOverTheMainWindowAtTheDriveList) {
  MapLeftOffset = 4;
  MapTopOffset = 70;
  const MapPlacement at = Map_Window_Position(100, 50, 418);
  EXPECT_EQ(at.left, 100 + 418 + 4);
  EXPECT_EQ(at.top, 50 + 70);
}

}  // namespace
}  // namespace vr::test
