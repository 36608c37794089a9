// The pictures the charts are drawn into. A chart picture is a map canvas
// (palette colour indexes, boxes, text) that also knows its size and the
// height of a text line, which a chart's layout needs. The main window's
// client area is one too, and knows where its controls lie (the pie chart
// is placed by the drive list and the map picture). The Qt windows install
// theirs; until then the charts draw nothing.
#pragma once

#include <string>

#include "map/map_canvas.h"
#include "volume/ui.h"

namespace vr {

class ChartCanvas : public MapCanvas {
 public:
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Height of a line of text ("x").
  virtual int TextHeight() const = 0;
};

// A control's place in the main window's client area, in pixels.
struct ControlBox {
  int left = 0, top = 0, width = 0, height = 0;
};

// The main window's client area: drawings there are cleared with the
// message area's text.
class FormCanvas : public ChartCanvas {
 public:
  virtual ControlBox Box(Control c) const = 0;
};

// The canvas of `picMap`, `picHistoF` or `PicHistoE`. Unless a window
// installed its own, `picMap` draws through the block map's canvas (PicMap)
// and the histogram pictures draw nothing.
ChartCanvas& ChartPicture(Control picture);
// Installs `canvas` for `picture` (nullptr: back to the default); returns
// the one it replaces.
ChartCanvas* SetChartPicture(Control picture, ChartCanvas* canvas);

FormCanvas& MainCanvas();
FormCanvas* SetMainCanvas(FormCanvas* canvas);

// Drawing helpers on top of the canvas operations.
void FillBox(MapCanvas& canvas, int x, int y, int width, int height, int colour);
void HLine(MapCanvas& canvas, int x1, int x2, int y, int colour);
void VLine(MapCanvas& canvas, int x, int y1, int y2, int colour);
// The outline of the box with corners (x1, y1) and (x2, y2), both included.
void FrameBox(MapCanvas& canvas, int x1, int y1, int x2, int y2, int colour);

}  // namespace vr
