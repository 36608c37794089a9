// What `picMap` shows: the block map, or the file distribution chart while
// the histogram flag (HistoShown) is set.
#pragma once

namespace vr {

// Draws the file distribution of SizeBuckets into `picMap` and sets
// HistoShown, so that the picture's repaint keeps showing the chart.
void Show_File_Distribution();

// The repaint of `picMap`: the chart titled "File distribution" while
// HistoShown is set, otherwise the block map.
void picMap_Paint();

}  // namespace vr
