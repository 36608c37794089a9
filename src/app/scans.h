// Installs the scans the map windows run when their timer fires.
#pragma once

namespace vr {

// The FAT map window runs the FAT scan; a checked scan of a FAT volume in
// use hands its file table over to the optimiser that moves files through
// the file system.
void Install_Map_Scans();

}  // namespace vr
