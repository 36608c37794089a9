// Painting one cluster's box. `BoxColors` keeps the colour of every box and
// changes only here, under each file system's overwrite rules, so that a
// fragmented or system file stays visible under later paints.
#pragma once

#include "runtime/checked.h"

namespace vr {

// NTFS: Empty, Moved, Sys and Moving always overwrite; any other colour
// leaves a box that is Sys, Frag or yellow alone.
bool Ntfs_May_Overwrite(int Stored, int Colour);
// FAT: as NTFS, except that Sys is not protected.
bool Fat_May_Overwrite(int Stored, int Colour);

// NTFS: sets and draws the box of `Cluster` (clusters outside 0 ..
// TotalClusters - 1 are ignored). Colour 0 draws the box black and keeps its
// stored colour, so the next repaint shows it again.
void Paint_Cluster(Long Cluster, Integer Colour);

// FAT: sets and draws the box of `Cluster` (the FAT's own cluster numbers;
// boxes beyond the last element of BoxColors are ignored). Colour 128 + c
// paints c, and only into a box that is still unpainted.
void FAT_Paint_Cluster(Long Cluster, Integer Colour);

}  // namespace vr
