// Installs the scans the map windows run when their timer fires.
#pragma once

namespace vr {

// The FAT map window runs the FAT scan; a checked scan of a FAT volume in
// use hands its file table over to the optimiser that moves files through
// the file system. A Defrag on an NTFS volume in use ends its scan in the
// optimiser run, which draws its charts in the main window.
void Install_Map_Scans();

// Optimiser runs the scans have started in this process.
extern int OptimiserRuns;

}  // namespace vr
