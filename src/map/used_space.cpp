#include "map/used_space.h"

#include "alloc/free_segments.h"
#include "map/map_colors.h"
#include "map/map_geometry.h"
#include "map/runs.h"
#include "map/swatches.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

void Draw_Bitmap(Integer Kolor) {
  Long used = 0;  // first cluster after the last free segment walked
  for (Long i = 1; i <= Allocation.FreeCount; ++i) {
    Redraw_BBBB(Allocation.FreeStarts(i) - used, used, Kolor);
    used = Allocation.FreeStarts(i) + Allocation.FreeLengths(i);
  }
  Redraw_BBBB(VolumeSession.TotalClusters - used, used, Kolor);
}

void Setup_Empty_Colors() {
  // Boxes past the volume's last cluster stay blank: they hold no space.
  const Long last = LastVolumeBox();
  for (Long b = 0; b <= last; ++b) {
    if (BoxColors(b) != 0) continue;
    BoxColors(b) = kColorEmpty;
    Draw_Box(b, kColorEmpty);
  }
}

}  // namespace vr
