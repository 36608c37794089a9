#include "volume/recording_window.h"

namespace vr {

std::string RecordingMainWindow::Line::Text() const {
  std::string s;
  for (const auto& p : pieces) s += p.text;
  return s;
}

std::vector<std::string> RecordingMainWindow::LineTexts() const {
  std::vector<std::string> out;
  for (const auto& l : lines_) out.push_back(l.Text());
  return out;
}

void RecordingMainWindow::MsgClear() {
  lines_.clear();
  lineOpen_ = false;
  x_ = y_ = 0;
}

void RecordingMainWindow::MsgSetPos(int x, int y) {
  x_ = x;
  y_ = y;
  lineOpen_ = false;
}

void RecordingMainWindow::MsgWrite(const std::string& text, int colour) {
  if (!lineOpen_) {
    lines_.push_back(Line{y_, {}});
    lineOpen_ = true;
  }
  lines_.back().pieces.push_back(Piece{text, colour});
  x_ += static_cast<int>(text.size()) * 7;
}

void RecordingMainWindow::MsgEndLine() {
  if (!lineOpen_) lines_.push_back(Line{y_, {}});
  lineOpen_ = false;
  x_ = 0;
  y_ += kLineHeight;
}

bool RecordingMainWindow::IsVisible(Control c) const {
  auto it = visible_.find(c);
  return it == visible_.end() ? true : it->second;
}

bool RecordingMainWindow::IsEnabled(Control c) const {
  auto it = enabled_.find(c);
  return it == enabled_.end() ? true : it->second;
}

std::vector<std::string> RecordingMainWindow::Items(Control c) const {
  auto it = lists_.find(c);
  return it == lists_.end() ? std::vector<std::string>{} : it->second;
}

void RecordingMainWindow::ShowMapWindow(MapKind kind, const std::string& caption) {
  mapWindows.push_back(caption);
  if (onShowMap) onShowMap(kind, caption);
}

namespace {
MainWindowPort* g_window = nullptr;
}

MainWindowPort& MainWindow() {
  static RecordingMainWindow headless;
  return g_window ? *g_window : headless;
}

void SetMainWindow(MainWindowPort* port) { g_window = port; }

}  // namespace vr
