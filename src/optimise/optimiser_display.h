// What the optimiser shows while it works: its two status lines on the map
// window, and the main window's charts (the gaps, and the size histograms of
// the fragmented files and the pack candidates), which the windows draw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/ui.h"

namespace vr {

// The optimiser's status lines (Y 10 and 22 of the map window).
void Opt_Label(int Line, const std::string& Text);  // Line 1 or 2
void Opt_Value(int Line, const std::string& Text);

class OptimiserCharts {
 public:
  virtual ~OptimiserCharts() = default;
  // The free segments from FreeCursor on, as the "Gaps" chart.
  virtual void ShowGaps() = 0;
  // Files of the given sizes in bytes as the histogram `Title` in
  // `Picture` (picHistoF: "Fragments", "Candidates").
  virtual void ShowSizes(Control Picture, const std::string& Title,
                         const std::vector<int64_t>& Bytes) = 0;
};
// The windows install their charts; without them nothing is drawn.
void SetOptimiserCharts(OptimiserCharts* Charts);
OptimiserCharts* Optimiser_Charts();

}  // namespace vr
