// Where things lie on the block map: the picture's size, each box's corner
// and the box a cluster falls in (grid constants and ClustersPerBox from the
// shared state).
#pragma once

#include "runtime/checked.h"

namespace vr {

// `picMap` in pixels: BoxColumns x BoxPitch + 5 wide, BoxRows x BoxPitch + 15
// high.
int MapWidth();
int MapHeight();

// Top-left corner of box `Box`: rows of BoxColumns boxes, 2 pixels from the
// left, 12 from the top (the legend row is above).
int BoxLeft(Long Box);
int BoxTop(Long Box);

// The box cluster `Cluster` lies in.
Long BoxOfCluster(Long Cluster);

// The last box that holds a cluster of the volume (clusters 0 ..
// TotalClusters - 1); -1 for an empty volume.
Long LastVolumeBox();

}  // namespace vr
