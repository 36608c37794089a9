#include "map/map_geometry.h"

#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

int MapWidth() { return BoxColumns * BoxPitch + 5; }
int MapHeight() { return BoxRows * BoxPitch + 15; }

int BoxLeft(Long Box) { return (Box % BoxColumns) * BoxPitch + 2; }
int BoxTop(Long Box) { return (Box / BoxColumns) * BoxPitch + 12; }

Long BoxOfCluster(Long Cluster) { return Cluster / ClustersPerBox; }

Long LastVolumeBox() {
  if (VolumeSession.TotalClusters <= 0) return -1;
  return (VolumeSession.TotalClusters - 1) / ClustersPerBox;
}

}  // namespace vr
