// A main window without a screen for the shell's procedures: the message
// area and controls of the recording window, plus menu check marks, the help
// context, the drive-list selection and a log of the window calls.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/shell_port.h"
#include "volume/recording_window.h"

namespace vr::test {

class FakeShell : public ShellPort {
 public:
  RecordingMainWindow rec;
  std::vector<std::string> calls;  // window calls in order ("EndProgram 0", ...)
  std::map<MenuItem, bool> checks;
  std::map<Control, std::string> labels;  // texts of labels (`lblCount`)
  int helpContext = 0;
  int drvIndex = -1;
  ScreenMetrics metrics;
  int mapWidth = 0, mapHeight = 0;
  std::optional<int> exitCode;
  std::vector<std::string> savedMaps, savedWindows;
  std::vector<int> helpShown;
  std::string aboutApp, aboutOther;
  std::function<void()> onDoEvents;  // may throw, to test robustness

  void MsgClear() override { rec.MsgClear(); }
  void MsgSetPos(int x, int y) override { rec.MsgSetPos(x, y); }
  int MsgX() const override { return rec.MsgX(); }
  int MsgY() const override { return rec.MsgY(); }
  void MsgWrite(const std::string& text, int colour) override { rec.MsgWrite(text, colour); }
  void MsgEndLine() override { rec.MsgEndLine(); }
  void SetVisible(Control c, bool visible) override { rec.SetVisible(c, visible); }
  bool IsVisible(Control c) const override { return rec.IsVisible(c); }
  void SetEnabled(Control c, bool enabled) override { rec.SetEnabled(c, enabled); }
  bool IsEnabled(Control c) const { return rec.IsEnabled(c); }
  void ClearList(Control c) override { rec.ClearList(c); }
  void AddItem(Control c, const std::string& text) override { rec.AddItem(c, text); }
  std::vector<std::string> Items(Control c) const override { return rec.Items(c); }
  int RightOf(Control c) const override { return rec.RightOf(c); }
  void MessageBox(const std::string& text, MsgIcon icon) override { rec.MessageBox(text, icon); }
  void Beep() override { rec.Beep(); }
  void DoEvents() override {
    calls.push_back("DoEvents");
    if (onDoEvents) onDoEvents();
  }
  void SetBusyCursor(bool busy) override { calls.push_back(busy ? "Busy" : "Normal"); }
  void BringToFront() override {}
  bool WindowVisible() const override { return rec.WindowVisible(); }
  void ShowWindow() override {
    calls.push_back("ShowWindow");
    rec.ShowWindow();
  }
  std::string DrvUserText() const override {
    const auto items = rec.Items(Control::DrvUser);
    return drvIndex >= 0 && drvIndex < static_cast<int>(items.size()) ? items[drvIndex] : "";
  }
  void ShowMapWindow(MapKind kind, const std::string& caption) override {
    rec.ShowMapWindow(kind, caption);
  }

  bool MenuChecked(MenuItem item) const override {
    auto it = checks.find(item);
    return it != checks.end() && it->second;
  }
  void SetMenuChecked(MenuItem item, bool checked) override { checks[item] = checked; }
  void SetHelpContext(int context) override { helpContext = context; }
  int HelpContext() const override { return helpContext; }
  int DrvUserIndex() const override { return drvIndex; }
  void SetDrvUserIndex(int index) override { drvIndex = index; }
  void ClearMap() override { calls.push_back("ClearMap"); }
  void SetLabel(Control c, const std::string& text) override { labels[c] = text; }
  void PlaceMap(int width, int height) override {
    mapWidth = width;
    mapHeight = height;
  }
  ScreenMetrics Metrics() const override { return metrics; }
  void HideWindow() override { calls.push_back("HideWindow"); }
  void EndProgram(int code) override {
    calls.push_back("EndProgram " + std::to_string(code));
    exitCode = code;
  }
  void ShowAbout(const std::string& app, const std::string& other) override {
    aboutApp = app;
    aboutOther = other;
  }
  void ShowHelp(int context) override { helpShown.push_back(context); }
  bool SaveMapImage(const std::string& file) override {
    savedMaps.push_back(file);
    return true;
  }
  bool SaveWindowImage(const std::string& file) override {
    savedWindows.push_back(file);
    return true;
  }

  // Texts of the message area's lines and their colours.
  std::vector<std::string> Lines() const { return rec.LineTexts(); }
  bool HasLine(const std::string& text) const;
  int LineColour(const std::string& text) const;  // -1 when absent
};

// Installs a fresh FakeShell, a memory settings store, an empty platform and
// default shell state for each test; the ViewMap hook records the drive text.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Drives c, d (and more) in the drive map, as image paths that do not exist.
  void MapDrives(const std::string& letters);
  // Runs Form_Load as started with `words` (after the program name).
  void StartWith(const std::vector<std::string>& words);

  FakeShell shell;
  std::vector<std::string> viewMapDrives;         // the drive text each ViewMap saw
  std::vector<std::pair<int, int>> viewMapFlags;  // CheckedScan, DefragMode
  bool viewMapCompletes = true;                   // the fake map window runs to its end
  std::function<void()> viewMapExtra;
  int pieCharts = 0;  // calls of the pie chart hook
  std::string home;
};

}  // namespace vr::test
