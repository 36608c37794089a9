// The legend row above the map: one checker swatch and word per category.
#pragma once

#include <functional>
#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// x position of each colour's legend swatch (colours 0..15).
extern VbArray<Long> LegendX;
// While set, drawing the legend leaves the swatch strip as it is.
extern Integer LegendOnly;
// The print position of `picMap`.
extern Long MapCurrentX, MapCurrentY;

// The command is Defrag: CheckedScan set and DefragMode 0 or more.
bool Defrag_Command();

// Clears `picMap` (the print position returns to 0, 0).
void Clear_Map();

// One swatch of `Colour` 3 pixels after the print position, framed by one
// grey pixel all round, then its word 3 pixels after the swatch, at the top
// of the picture. An item without a
// word gives its place back to the next item.
void Legend_Item(Integer Colour, const std::string& Text);

// The right end of the widest legend row (a Defrag on NTFS) when its words
// are `textWidth` pixels wide: a picture at least this wide shows it whole.
Long Widest_Legend_Width(const std::function<int(const std::string&)>& textWidth);

// Clear `picMap` and draw the legend row of each file system.
void Draw_Legend_NTFS();
void Draw_Legend_FAT();

}  // namespace vr
