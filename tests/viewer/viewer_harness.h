// The viewer engine on real volumes: a recording stand-in for the window
// NTBrimHex, and the fixture volumes the searches are tried on.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/hex_command.h"
#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "viewer/hex_viewer.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/session.h"

namespace vr::test {

class RecordingHexWindow : public HexWindowPort {
 public:
  void SetCaption(const std::string& c) override { caption = c; }
  void SetBoxText(HexBox box, const std::string& text) override {
    boxes[box] = text;
    if (box == HexBox::File) fileBoxTexts.push_back(text);
  }
  std::string BoxText(HexBox box) const override {
    const auto it = boxes.find(box);
    return it == boxes.end() ? std::string() : it->second;
  }
  void SetDirLabel(const std::string& text) override { dirLabel = text; }
  void ShowNtfsControls(bool n) override { ntfsControls = n; }
  void SetScroll(bool visible, int max) override {
    scrollVisible = visible;
    scrollMax = max;
  }
  void DrawPage(const HexPage& p) override {
    page = p;
    ++pagesDrawn;
  }
  void Beep() override { ++beeps; }
  void DoEvents() override {
    ++events;
    if (onEvents) onEvents();
  }
  void SetBusyCursor(bool busy) override { busyCursor.push_back(busy); }
  bool AskText(const std::string& prompt, const std::string& title, std::string& a) override {
    prompts.push_back(prompt + "|" + title);
    a = answer;
    return !cancel;
  }
  void Unload() override { ++unloads; }

  std::string caption, dirLabel, answer;
  bool cancel = false;
  std::map<HexBox, std::string> boxes;
  std::vector<std::string> fileBoxTexts, prompts;
  std::vector<bool> busyCursor;
  bool ntfsControls = false, scrollVisible = false;
  int scrollMax = -1, pagesDrawn = 0, beeps = 0, events = 0, unloads = 0;
  HexPage page;
  std::function<void()> onEvents;
};

// The NTFS fixture with the viewer's extra records, built once per run.
inline const testsupport::NtfsFixture& ViewerNtfsFixture() {
  static testsupport::NtfsFixture fixture;
  static std::string error;
  static const bool built = [] {
    testsupport::NtfsFixtureOptions o;
    o.viewerRecords = true;
    return testsupport::BuildNtfsFixture(testsupport::TempPath("viewer-ntfs.img"), o, fixture,
                                         error);
  }();
  EXPECT_TRUE(built) << error;
  return fixture;
}

inline int64_t RecordOf(const std::string& image, const std::string& path) {
  int64_t record = -1;
  std::string error;
  EXPECT_TRUE(testsupport::LibntfsRecordNumber(image, path, record, error)) << error;
  return record;
}

// A viewer on drive c: mapped to an image, opened as the Hex View command
// opens it and loaded as its timer loads it.
class ViewerTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    SetMainWindow(&main);
    ResetErrorState();
  }
  void TearDown() override {
    Close_Drive(VolumeSession.VolumeHandle);
    SetMainWindow(nullptr);
    platform::ResetPlatform();
  }
  void Open(const std::string& image) {
    platform::SetDriveMap({platform::DriveEntry{'c', image, {}}});
    ASSERT_TRUE(Open_Hex_Volume("c: [VODURU]")) << ErrorState.ErrorText;
    viewer.Timer1_Timer();
    ASSERT_TRUE(viewer.Loaded());
    ASSERT_EQ(window.unloads, 0);
  }
  void Type(HexBox box, const std::string& text) { window.boxes[box] = text; }
  // Every record a search matches, through the menu choice and F3.
  std::vector<int64_t> Matches(FindKind kind, const std::string& answer = "") {
    window.answer = answer;
    std::vector<int64_t> out;
    int beeps = window.beeps;
    viewer.Find(kind);
    while (window.beeps == beeps && out.size() < 100000) {
      out.push_back(viewer.CurrentRecord().Value());
      viewer.NextFile();
    }
    return out;
  }
  static bool Has(const std::vector<int64_t>& v, int64_t x) {
    return std::find(v.begin(), v.end(), x) != v.end();
  }

  RecordingMainWindow main;
  RecordingHexWindow window;
  HexViewer viewer{window};
};

}  // namespace vr::test
