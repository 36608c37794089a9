// The off-screen swatch strip: one 5 x 5 checker per palette colour, side by
// side (colour c at x = 5c .. 5c + 4). A box is drawn by copying its colour's
// swatch in one block transfer rather than setting its pixels one by one.
#pragma once

#include <cstdint>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

constexpr int kSwatchSize = 5;
constexpr int kSwatchStripWidth = 16 * kSwatchSize;

// Pixel (i, j) of colour c's checker: c where i + j is odd, c OR 8 where it
// is even, so colours 8..15 are solid and 0..7 mix the dark and bright tone.
int CheckerPixel(int Colour, int i, int j);

// The strip, row by row (kSwatchStripWidth x kSwatchSize palette indexes).
extern ByteArray SwatchStrip;

// Prepares the strip with the checker of every colour 1..15. Colour 0's
// swatch stays black: it draws the bitmap-difference mark.
void Create_Swatches();

// Paints colour c's checker into the strip (the legend does this as it draws
// each item).
void Paint_Swatch(int Colour);

// Copies colour `Colour`'s swatch to box `Box` of `picMap`, BoxSize x BoxSize
// pixels (the top-left 4 x 4 with BoxSize 4; a box larger than the swatch
// repeats it).
void Draw_Box(Long Box, Integer Colour);

}  // namespace vr
