// The surface the block map is drawn on (the main window's `picMap`), as the
// map engine sees it. Colours are indexes into the standard 16-colour
// palette. The Qt window implements it; tests use a recording fake.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vr {

class MapCanvas {
 public:
  virtual ~MapCanvas() = default;
  // Clears the whole picture to its background.
  virtual void Clear() = 0;
  virtual void SetPixel(int x, int y, int colour) = 0;
  // Copies a block of palette indexes (row by row, `width` per row) with its
  // top-left corner at x, y: the bit-block transfer of one map box.
  virtual void PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) = 0;
  // Draws text with its top-left corner at x, y.
  virtual void DrawText(int x, int y, const std::string& text, int colour) = 0;
  virtual int TextWidth(const std::string& text) const = 0;
};

// The canvas the painters draw on: the one the main window installed, else
// one that draws nothing (a headless run).
MapCanvas& PicMap();
// Installs `canvas` (nullptr: back to drawing nothing); returns the one it
// replaces.
MapCanvas* SetPicMap(MapCanvas* canvas);

}  // namespace vr
