#include "app/charts/pie_chart.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "app/charts/chart_canvas.h"
#include "runtime/format.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

PieFigures Pie_Figures(int64_t freeClusters, int64_t totalClusters) {
  PieFigures f;
  const double share = static_cast<double>(freeClusters) / static_cast<double>(totalClusters);
  f.freeAngle = std::clamp(share * kPieFull, 0.02, 6.27);
  f.freePercent = static_cast<int>(std::nearbyint(share * 100));
  f.freeLabel = f.freeAngle > 3.14159;
  f.label =
      f.freeLabel ? "Free " + Str(f.freePercent) + "%" : "Used " + Str(100 - f.freePercent) + "%";
  return f;
}

PiePlace Pie_Place() {
  const FormCanvas& form = MainCanvas();
  const ControlBox drive = form.Box(Control::DrvUser);
  const ControlBox map = form.Box(Control::picMap);
  return {drive.left + 40, (drive.top + drive.height + map.top) / 2};
}

namespace {

constexpr int kNone = -1;

// Whether the pixel (dx, dy) from the centre lies on the radius drawn at
// `angle` (screen y grows downward, angles grow counter-clockwise).
bool OnRadius(int dx, int dy, double angle) {
  const double ux = std::cos(angle), uy = -std::sin(angle);
  const double along = dx * ux + dy * uy;
  const double across = std::abs(dx * uy - dy * ux);
  return along >= -0.5 && across < 0.5;
}

// The colour of the pixel (dx, dy) from the centre: the white ring of
// radius 41, the black outline of the pie, both slices' edges drawn as
// radii, the free slice (0 .. freeAngle) white and the used slice light
// blue; kNone outside.
int PieColour(int dx, int dy, double freeAngle) {
  const double d = std::hypot(dx, dy);
  if (d >= kPieRadius + 1.5) return kNone;
  if (d >= kPieRadius + 0.5) return kBrightWhite;
  if (d >= kPieRadius - 0.5) return kBlack;
  if (OnRadius(dx, dy, 0.00001) || OnRadius(dx, dy, freeAngle)) return kBlack;
  double angle = std::atan2(-static_cast<double>(dy), static_cast<double>(dx));
  if (angle < 0) angle += 2 * std::numbers::pi;
  return angle > 0.00001 && angle <= freeAngle ? kBrightWhite : kLightBlue;
}

}  // namespace

void Draw_Pie() {
  if (VolumeSession.TotalClusters == 0) return;
  FormCanvas& form = MainCanvas();
  const PiePlace at = Pie_Place();
  const PieFigures f = Pie_Figures(VolumeSession.FreeClusters, VolumeSession.TotalClusters);

  // Row by row: each run of pie pixels is one block.
  const int reach = kPieRadius + 1;
  for (int dy = -reach; dy <= reach; ++dy) {
    std::vector<uint8_t> run;
    int runStart = 0;
    for (int dx = -reach; dx <= reach + 1; ++dx) {
      const int colour = dx <= reach ? PieColour(dx, dy, f.freeAngle) : kNone;
      if (colour != kNone) {
        if (run.empty()) runStart = dx;
        run.push_back(static_cast<uint8_t>(colour));
      } else if (!run.empty()) {
        form.PutBlock(at.centreX + runStart, at.centreY + dy, static_cast<int>(run.size()), 1, run);
        run.clear();
      }
    }
  }

  const int y = f.freeLabel ? at.centreY - 13 : at.centreY + 2;
  const int colour = f.freeLabel ? kBlack : kBrightWhite;
  form.DrawText(at.centreX - form.TextWidth(f.label) / 2, y, f.label, colour);
}

void Show_PiChart() {
  const std::string entry = MainWindow().DrvUserText();
  if (entry.size() < 2) return;  // no drive selected: nothing to chart
  const std::string root = entry.substr(0, 2) + "\\";
  Long sectorsPerCluster = 0;
  VolumeSession.TotalSectors = Disk_Size(root, sectorsPerCluster);
  if (VolumeSession.TotalSectors != 0) {
    Draw_Pie();
  } else {
    Cls_Pos();
    ReportLine("Unable to view " + entry);
  }
}

}  // namespace vr
