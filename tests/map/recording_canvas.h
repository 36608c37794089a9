// A map canvas that keeps the picture as palette indexes and records every
// operation, so tests can read what a box or the legend shows.
#pragma once

#include <string>
#include <vector>

#include "map/map_canvas.h"

namespace vr::test {

class RecordingCanvas : public MapCanvas {
 public:
  struct Block {
    int x, y, width, height;
    std::vector<uint8_t> colours;
  };
  struct Text {
    int x, y;
    std::string text;
    int colour;
  };
  static constexpr int kBlank = -1;

  void Reset(int width, int height) {
    width_ = width;
    height_ = height;
    pixels_.assign(static_cast<size_t>(width) * height, kBlank);
    Forget();
  }
  // Forgets the operations, keeps the picture.
  void Forget() {
    clears = 0;
    pixel_sets = 0;
    blocks.clear();
    texts.clear();
  }
  int At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return kBlank;
    return pixels_[static_cast<size_t>(y) * width_ + x];
  }
  int BlocksAt(int x, int y) const {
    int n = 0;
    for (const Block& b : blocks) n += b.x == x && b.y == y;
    return n;
  }
  std::vector<std::string> Words() const {
    std::vector<std::string> words;
    for (const Text& t : texts) words.push_back(t.text);
    return words;
  }

  void Clear() override {
    ++clears;
    pixels_.assign(pixels_.size(), kBlank);
  }
  void SetPixel(int x, int y, int colour) override {
    ++pixel_sets;
    Put(x, y, colour);
  }
  void PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) override {
    blocks.push_back({x, y, width, height, {colours.begin(), colours.end()}});
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

  int clears = 0;
  int pixel_sets = 0;
  std::vector<Block> blocks;
  std::vector<Text> texts;

 private:
  void Put(int x, int y, int colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<size_t>(y) * width_ + x] = colour;
  }
  int width_ = 0, height_ = 0;
  std::vector<int> pixels_;
};

}  // namespace vr::test
