// Painting the volume as a whole: everything outside the free segments, and
// every box nothing else painted.
#pragma once

#include "runtime/checked.h"

namespace vr {

// Paints every cluster outside the free segments 1 .. FreeCount with
// `Kolor` (the scans use Moving, before any file is painted).
void Draw_Bitmap(Integer Kolor);

// Paints Empty every box of the volume that is still unpainted.
void Setup_Empty_Colors();

}  // namespace vr
