#include "map/swatches.h"

#include <vector>

#include "map/map_canvas.h"
#include "map/map_geometry.h"
#include "volume/shared_state.h"

namespace vr {

ByteArray SwatchStrip;

namespace {

void CheckColour(int Colour) {
  if (Colour < 0 || Colour > 15) Raise(kErrIllegalCall);
}

void EnsureStrip() {
  if (SwatchStrip.size() != kSwatchStripWidth * kSwatchSize) Create_Swatches();
}

}  // namespace

int CheckerPixel(int Colour, int i, int j) { return (i + j) % 2 != 0 ? Colour : (Colour | 8); }

void Create_Swatches() {
  SwatchStrip.ReDim(kSwatchStripWidth * kSwatchSize - 1);  // all black
  for (int c = 1; c < 16; ++c) Paint_Swatch(c);
}

void Paint_Swatch(int Colour) {
  CheckColour(Colour);
  EnsureStrip();
  for (int j = 0; j < kSwatchSize; ++j)
    for (int i = 0; i < kSwatchSize; ++i)
      SwatchStrip(j * kSwatchStripWidth + kSwatchSize * Colour + i) =
          static_cast<uint8_t>(CheckerPixel(Colour, i, j));
}

void Draw_Box(Long Box, Integer Colour) {
  CheckColour(Colour);
  EnsureStrip();
  const int size = BoxSize;
  if (size <= 0) return;
  std::vector<uint8_t> block(static_cast<size_t>(size) * size);
  for (int j = 0; j < size; ++j)
    for (int i = 0; i < size; ++i)
      block[static_cast<size_t>(j) * size + i] = SwatchStrip(
          (j % kSwatchSize) * kSwatchStripWidth + kSwatchSize * Colour + i % kSwatchSize);
  PicMap().PutBlock(BoxLeft(Box), BoxTop(Box), size, size, block);
}

}  // namespace vr
