#include "map/partial_blocks.h"

#include <algorithm>
#include <cstdint>

#include "alloc/free_segments.h"
#include "map/map_colors.h"
#include "map/swatches.h"
#include "runtime/vb_array.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

// Free clusters per box, over the segments from FreeCursor on; a segment is
// split at box boundaries. Clusters beyond BoxColors are left out.
VbArray<int64_t> Free_Per_Box() {
  const int64_t per_box = ClustersPerBox;
  VbArray<int64_t> counts(BoxColors.UBound());
  const int64_t limit = static_cast<int64_t>(counts.size()) * per_box;
  for (Long i = Allocation.FreeCursor < 0 ? Long(0) : Allocation.FreeCursor;
       i <= Allocation.FreeCount; ++i) {
    int64_t s = std::max<int64_t>(Allocation.FreeStarts(i).Value(), 0);
    const int64_t end = std::min<int64_t>(
        int64_t{Allocation.FreeStarts(i).Value()} + Allocation.FreeLengths(i).Value(), limit);
    while (s < end) {
      const int64_t box = s / per_box;
      const int64_t n = std::min(end, (box + 1) * per_box) - s;
      counts(box) += n;
      s += n;
    }
  }
  return counts;
}

}  // namespace

void Show_Partial_Blocks() {
  const int64_t per_box = ClustersPerBox;
  const VbArray<int64_t> counts = Free_Per_Box();
  const Long complete = VolumeSession.TotalClusters / ClustersPerBox;
  for (Long b = 0; b < complete; ++b) {
    if (BoxColors(b) != kColorEmpty) continue;
    const int64_t f = counts(b);
    if (f == 0 || f == per_box || f <= per_box / 50) continue;
    BoxColors(b) = kColorPartial;
    Draw_Box(b, kColorPartial);
  }
}

void FAT_Show_Partial_Blocks() { Show_Partial_Blocks(); }

}  // namespace vr
