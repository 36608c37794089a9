#include "map/map_canvas.h"

namespace vr {
namespace {

class NullCanvas : public MapCanvas {
 public:
  void Clear() override {}
  void SetPixel(int, int, int) override {}
  void PutBlock(int, int, int, int, std::span<const uint8_t>) override {}
  void DrawText(int, int, const std::string&, int) override {}
  int TextWidth(const std::string& text) const override {
    return 6 * static_cast<int>(text.size());
  }
};

NullCanvas null_canvas;
MapCanvas* installed = nullptr;

}  // namespace

MapCanvas& PicMap() { return installed ? *installed : null_canvas; }

MapCanvas* SetPicMap(MapCanvas* canvas) {
  MapCanvas* previous = installed;
  installed = canvas;
  return previous;
}

}  // namespace vr
