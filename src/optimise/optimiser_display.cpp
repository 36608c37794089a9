#include "optimise/optimiser_display.h"

#include "ntfs/ntfs_scan.h"
#include "volume/report.h"

namespace vr {

namespace {
OptimiserCharts* g_charts = nullptr;
int LineY(int Line) { return Line == 1 ? kNtfsStatusLine1 : kNtfsStatusLine2; }
}  // namespace

void Opt_Label(int Line, const std::string& Text) {
  if (StatusSurface* s = Ntfs_Status()) Status_Label(LineY(Line), *s, Text, kBrightWhite);
}

void Opt_Value(int Line, const std::string& Text) {
  if (StatusSurface* s = Ntfs_Status()) Status_Value(LineY(Line), *s, Text, kBrightWhite);
}

void SetOptimiserCharts(OptimiserCharts* Charts) { g_charts = Charts; }
OptimiserCharts* Optimiser_Charts() { return g_charts; }

}  // namespace vr
