// The free/used pie chart of the selected drive, drawn into the main
// window's client area between the drive list and the map picture.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"

namespace vr {

// The pie of a volume with `freeClusters` of `totalClusters` free.
struct PieFigures {
  double freeAngle = 0;  // end of the free slice, radians counter-clockwise from 3 o'clock
  int freePercent = 0;   // rounded, halves to even
  std::string label;     // "Free P%" when free space is more than half, else "Used P%"
  bool freeLabel = false;
};
PieFigures Pie_Figures(int64_t freeClusters, int64_t totalClusters);

constexpr double kPieFull = 6.28318;
constexpr int kPieRadius = 40;

// Where the pie lies: by the drive list `DrvUser`, above the map picture.
struct PiePlace {
  int centreX = 0, centreY = 0;
};
PiePlace Pie_Place();

// The pie of the VolumeSession's FreeClusters and TotalClusters (nothing
// when TotalClusters is 0).
void Draw_Pie();
// The pie of the drive selected in `DrvUser`, after asking the system for
// its sizes; "Unable to view " & the entry when that fails.
void Show_PiChart();

}  // namespace vr
