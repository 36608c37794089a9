#include "app/charts/chart_canvas.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "map/map_geometry.h"

namespace vr {
namespace {

// `picMap` as a chart picture: the block map's canvas, the map picture's
// size and the line height of its 10-pixel font.
class MapPictureChart : public ChartCanvas {
 public:
  void Clear() override { PicMap().Clear(); }
  void SetPixel(int x, int y, int colour) override { PicMap().SetPixel(x, y, colour); }
  void PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) override {
    PicMap().PutBlock(x, y, width, height, colours);
  }
  void DrawText(int x, int y, const std::string& text, int colour) override {
    PicMap().DrawText(x, y, text, colour);
  }
  int TextWidth(const std::string& text) const override { return PicMap().TextWidth(text); }
  int Width() const override { return MapWidth(); }
  int Height() const override { return MapHeight(); }
  int TextHeight() const override { return 12; }
};

// A picture no window has installed: it keeps nothing.
class NullChart : public FormCanvas {
 public:
  void Clear() override {}
  void SetPixel(int, int, int) override {}
  void PutBlock(int, int, int, int, std::span<const uint8_t>) override {}
  void DrawText(int, int, const std::string&, int) override {}
  int TextWidth(const std::string& text) const override {
    return 6 * static_cast<int>(text.size());
  }
  int Width() const override { return 300; }
  int Height() const override { return 200; }
  int TextHeight() const override { return 12; }
  ControlBox Box(Control) const override { return {}; }
};

MapPictureChart map_picture;
NullChart null_chart;
ChartCanvas* installed_map = nullptr;
ChartCanvas* installed_f = nullptr;
ChartCanvas* installed_e = nullptr;
FormCanvas* installed_form = nullptr;

ChartCanvas** Slot(Control picture) {
  switch (picture) {
    case Control::picMap: return &installed_map;
    case Control::picHistoF: return &installed_f;
    case Control::PicHistoE: return &installed_e;
    default: return nullptr;
  }
}

}  // namespace

ChartCanvas& ChartPicture(Control picture) {
  ChartCanvas** slot = Slot(picture);
  if (slot != nullptr && *slot != nullptr) return **slot;
  if (picture == Control::picMap) return map_picture;
  return null_chart;
}

ChartCanvas* SetChartPicture(Control picture, ChartCanvas* canvas) {
  ChartCanvas** slot = Slot(picture);
  if (slot == nullptr) return nullptr;
  ChartCanvas* previous = *slot;
  *slot = canvas;
  return previous;
}

FormCanvas& MainCanvas() { return installed_form ? *installed_form : null_chart; }

FormCanvas* SetMainCanvas(FormCanvas* canvas) {
  FormCanvas* previous = installed_form;
  installed_form = canvas;
  return previous;
}

void FillBox(MapCanvas& canvas, int x, int y, int width, int height, int colour) {
  if (width <= 0 || height <= 0) return;
  const std::vector<uint8_t> colours(static_cast<size_t>(width) * height,
                                     static_cast<uint8_t>(colour));
  canvas.PutBlock(x, y, width, height, colours);
}

void HLine(MapCanvas& canvas, int x1, int x2, int y, int colour) {
  FillBox(canvas, std::min(x1, x2), y, std::abs(x2 - x1) + 1, 1, colour);
}

void VLine(MapCanvas& canvas, int x, int y1, int y2, int colour) {
  FillBox(canvas, x, std::min(y1, y2), 1, std::abs(y2 - y1) + 1, colour);
}

void FrameBox(MapCanvas& canvas, int x1, int y1, int x2, int y2, int colour) {
  HLine(canvas, x1, x2, y1, colour);
  HLine(canvas, x1, x2, y2, colour);
  VLine(canvas, x1, y1, y2, colour);
  VLine(canvas, x2, y1, y2, colour);
}

}  // namespace vr
