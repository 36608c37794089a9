// A main window without a screen: it keeps the message area as lines of
// coloured pieces and the state of every named control. It stands in when no
// window is installed (engines run headless) and serves tests as the fake.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "volume/ui.h"

namespace vr {

class RecordingMainWindow : public MainWindowPort {
 public:
  struct Piece {
    std::string text;
    int colour;
  };
  struct Line {
    int y;
    std::vector<Piece> pieces;
    std::string Text() const;
  };

  // Lines written since the last MsgClear, finished or not.
  const std::vector<Line>& Lines() const { return lines_; }
  std::vector<std::string> LineTexts() const;
  std::vector<std::string> boxes;       // message box texts, in order
  std::vector<std::string> mapWindows;  // captions of map windows shown
  std::string drvUserText;
  int beeps = 0;
  std::function<void(MapKind, const std::string&)> onShowMap;

  void MsgClear() override;
  void MsgSetPos(int x, int y) override;
  int MsgX() const override { return x_; }
  int MsgY() const override { return y_; }
  void MsgWrite(const std::string& text, int colour) override;
  void MsgEndLine() override;
  void SetVisible(Control c, bool visible) override { visible_[c] = visible; }
  bool IsVisible(Control c) const override;
  void SetEnabled(Control c, bool enabled) override { enabled_[c] = enabled; }
  bool IsEnabled(Control c) const;
  void ClearList(Control c) override { lists_[c].clear(); }
  void AddItem(Control c, const std::string& text) override { lists_[c].push_back(text); }
  std::vector<std::string> Items(Control c) const override;
  int RightOf(Control) const override { return 0; }
  void MessageBox(const std::string& text, MsgIcon) override { boxes.push_back(text); }
  void Beep() override { ++beeps; }
  void DoEvents() override {}
  void SetBusyCursor(bool) override {}
  void BringToFront() override {}
  bool WindowVisible() const override { return windowVisible_; }
  void ShowWindow() override { windowVisible_ = true; }
  std::string DrvUserText() const override { return drvUserText; }
  void ShowMapWindow(MapKind kind, const std::string& caption) override;

 private:
  static constexpr int kLineHeight = 13;
  std::vector<Line> lines_;
  bool lineOpen_ = false;
  int x_ = 0, y_ = 0;
  bool windowVisible_ = false;
  std::map<Control, bool> visible_, enabled_;
  std::map<Control, std::vector<std::string>> lists_;
};

}  // namespace vr
