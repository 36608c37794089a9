// The standard 16-colour palette as RGB values (0xRRGGBB).
#pragma once

#include <cstdint>

namespace vr {

// Index outside 0..15: black.
uint32_t PaletteRgb(int index);

}  // namespace vr
