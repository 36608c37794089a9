// Installs the scans the map windows run when their timer fires.
#pragma once

namespace vr {

// The FAT map window runs the FAT scan; a checked scan of a FAT volume in
// use hands its file table over to the optimiser that moves files through
// the file system.
void Install_Map_Scans();

// Copies the FAT file table (names, flags, folders) into the NTFS file
// table and adds the columns that optimiser works from: fragments + 1, the
// first cluster as a data-area LCN, the chain length.
void Hand_Fat_Table_Over();

}  // namespace vr
