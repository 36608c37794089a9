#include "app/map_picture.h"

#include "app/charts/size_chart.h"
#include "app/shell.h"
#include "map/repaint.h"

namespace vr {

void Show_File_Distribution() {
  Draw_Histogram(Control::picMap, "File distribution");
  HistoShown = kTrue;
}

void picMap_Paint() {
  if (HistoShown != 0)
    Draw_Histogram(Control::picMap, "File distribution");
  else
    Map_Repaint();
}

}  // namespace vr
