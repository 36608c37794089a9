// The main window of a run nobody sees, without Qt: an option or unattended
// run without a display. Report lines reach standard output through the
// report procedures; the window keeps only the state the procedures read
// back (the drive list and its selection, menu check marks, lists, flags),
// and a map window runs its scan at once instead of waiting for a timer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/shell_port.h"

namespace vr {

class ConsoleShell : public ShellPort {
 public:
  // The exit code the program ended with; none while it runs.
  std::optional<int> ExitCode() const { return exitCode_; }

  // MainWindowPort
  void MsgClear() override { x_ = y_ = 0; }
  void MsgSetPos(int x, int y) override {
    x_ = x;
    y_ = y;
  }
  int MsgX() const override { return x_; }
  int MsgY() const override { return y_; }
  void MsgWrite(const std::string&, int) override {}
  void MsgEndLine() override { x_ = 0; }
  void SetVisible(Control c, bool visible) override { visible_[c] = visible; }
  bool IsVisible(Control c) const override;
  void SetEnabled(Control, bool) override {}
  void ClearList(Control c) override { lists_[c].clear(); }
  void AddItem(Control c, const std::string& text) override { lists_[c].push_back(text); }
  std::vector<std::string> Items(Control c) const override;
  int RightOf(Control) const override { return 0; }
  void MessageBox(const std::string& text, MsgIcon icon) override;
  void Beep() override {}
  void DoEvents() override {}
  void SetBusyCursor(bool) override {}
  void BringToFront() override {}
  bool WindowVisible() const override { return false; }
  void ShowWindow() override {}
  std::string DrvUserText() const override;
  void ShowMapWindow(MapKind kind, const std::string& caption) override;

  // ShellPort
  bool MenuChecked(MenuItem item) const override;
  void SetMenuChecked(MenuItem item, bool checked) override { checks_[item] = checked; }
  void SetHelpContext(int context) override { helpContext_ = context; }
  int HelpContext() const override { return helpContext_; }
  int DrvUserIndex() const override { return drvIndex_; }
  void SetDrvUserIndex(int index) override { drvIndex_ = index; }
  void ClearMap() override {}
  void SetLabel(Control, const std::string&) override {}
  void PlaceMap(int, int) override {}
  ScreenMetrics Metrics() const override { return ScreenMetrics{}; }
  void HideWindow() override {}
  void EndProgram(int exitCode) override { exitCode_ = exitCode; }
  void ShowAbout(const std::string&, const std::string&) override {}
  void ShowHelp(int) override {}
  // Pictures need a window system: a console run cannot save them.
  bool SaveMapImage(const std::string&) override { return false; }
  bool SaveWindowImage(const std::string&) override { return false; }

 private:
  int x_ = 0, y_ = 0;
  int helpContext_ = 0;
  int drvIndex_ = -1;
  std::optional<int> exitCode_;
  std::map<Control, bool> visible_;
  std::map<MenuItem, bool> checks_;
  std::map<Control, std::vector<std::string>> lists_;
};

// Runs the program's start-up (Form_Load) in a ConsoleShell and returns the
// exit code it ended with. The platform, drive map and scans must be set up.
int Run_Console_Program();

}  // namespace vr
