#include "map/repaint.h"

#include "map/legend.h"
#include "map/swatches.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

bool Map_Sized() { return BoxColors.UBound() >= 1; }

void Repaint_With(void (*Draw_Legend)()) {
  if (!Map_Sized()) return;
  MapCurrentX = 0;
  MapCurrentY = 0;
  LegendOnly = -1;
  try {
    Draw_Legend();
  } catch (...) {
    LegendOnly = 0;
    throw;
  }
  LegendOnly = 0;
  for (Long b = 0; b <= BoxColors.UBound(); ++b)
    if (BoxColors(b) != 0) Draw_Box(b, BoxColors(b));
}

}  // namespace

void NTFS_Repaint() { Repaint_With(Draw_Legend_NTFS); }

void Fat_RePaint() { Repaint_With(Draw_Legend_FAT); }

void Map_Repaint() {
  Clear_Map();
  if (VolumeSession.FileSystemName == "FAT")
    Fat_RePaint();
  else
    NTFS_Repaint();
}

}  // namespace vr
