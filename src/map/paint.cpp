#include "map/paint.h"

#include "map/map_colors.h"
#include "map/map_geometry.h"
#include "map/swatches.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

bool AlwaysOverwrites(int Colour) {
  return Colour == kColorEmpty || Colour == kColorMoved || Colour == kColorSys ||
         Colour == kColorMoving;
}

}  // namespace

bool Ntfs_May_Overwrite(int Stored, int Colour) {
  if (AlwaysOverwrites(Colour)) return true;
  return Stored != kColorSys && Stored != kColorFrag && Stored != kColorYellow;
}

bool Fat_May_Overwrite(int Stored, int Colour) {
  if (AlwaysOverwrites(Colour)) return true;
  return Stored != kColorFrag && Stored != kColorYellow;
}

void Paint_Cluster(Long Cluster, Integer Colour) {
  if (Colour < 0 || Colour > 15) Raise(kErrIllegalCall);
  if (Cluster < 0 || Cluster >= VolumeSession.TotalClusters) return;
  const Long b = BoxOfCluster(Cluster);
  const int stored = BoxColors(b);
  if (stored == Colour) return;
  if (!Ntfs_May_Overwrite(stored, Colour)) return;
  if (Colour != kColorMarked) BoxColors(b) = static_cast<uint8_t>(Colour.Value());
  Draw_Box(b, Colour);
}

void FAT_Paint_Cluster(Long Cluster, Integer Colour) {
  if (Colour < 0 || Colour > 255 || (Colour > 15 && Colour < kIntoUnpainted))
    Raise(kErrIllegalCall);
  if (Cluster < 0) return;
  const Long b = BoxOfCluster(Cluster);
  if (b > BoxColors.UBound()) return;
  const int stored = BoxColors(b);
  if (stored == Colour) return;
  if (!Fat_May_Overwrite(stored, Colour)) return;
  int paint = Colour;
  if (Colour >= kIntoUnpainted) {
    if (stored != 0) return;
    paint = Colour & 15;
  }
  BoxColors(b) = static_cast<uint8_t>(paint);
  Draw_Box(b, paint);
}

}  // namespace vr
