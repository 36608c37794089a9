// A chart picture that keeps its pixels as palette indexes and records the
// texts drawn, so tests can read what a chart shows; as the main window's
// client area it places the controls where a test puts them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/charts/chart_canvas.h"

namespace vr::test {

class RecordingChart : public FormCanvas {
 public:
  struct Text {
    int x, y;
    std::string text;
    int colour;
  };
  static constexpr int kBlank = -1;

  RecordingChart(int width, int height, int textHeight = 12)
      : width_(width), height_(height), textHeight_(textHeight) {
    pixels_.assign(static_cast<size_t>(width) * height, kBlank);
  }

  int At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return kBlank;
    return pixels_[static_cast<size_t>(y) * width_ + x];
  }
  // Pixels of `colour` in column x between rows y1 and y2 (both included).
  int CountInColumn(int x, int y1, int y2, int colour) const {
    int n = 0;
    for (int y = y1; y <= y2; ++y) n += At(x, y) == colour;
    return n;
  }
  int Painted() const {
    int n = 0;
    for (int p : pixels_) n += p != kBlank;
    return n;
  }
  const Text* FindText(const std::string& text) const {
    for (const Text& t : texts)
      if (t.text == text) return &t;
    return nullptr;
  }

  void Clear() override {
    ++clears;
    texts.clear();
    pixels_.assign(pixels_.size(), kBlank);
  }
  void SetPixel(int x, int y, int colour) override { Put(x, y, colour); }
  void PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) override {
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i)
        Put(x + i, y + j, colours[static_cast<size_t>(j) * width + i]);
  }
  void DrawText(int x, int y, const std::string& text, int colour) override {
    texts.push_back({x, y, text, colour});
  }
  int TextWidth(const std::string& text) const override {
    return 6 * static_cast<int>(text.size());
  }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int TextHeight() const override { return textHeight_; }
  ControlBox Box(Control c) const override {
    auto it = boxes.find(c);
    return it == boxes.end() ? ControlBox{} : it->second;
  }

  int clears = 0;
  std::vector<Text> texts;
  std::map<Control, ControlBox> boxes;

 private:
  void Put(int x, int y, int colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<size_t>(y) * width_ + x] = colour;
  }
  int width_, height_, textHeight_;
  std::vector<int> pixels_;
};

}  // namespace vr::test
