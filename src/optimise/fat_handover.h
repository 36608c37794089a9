// The FAT hand-over: a checked scan of a FAT volume in use hands its file
// table to the optimiser that moves files through the file system.
#pragma once

namespace vr {

// Copies the FAT file table (names, flags, folders) into the move table and
// adds the columns that optimiser works from: fragments + 1, the first
// cluster as a data-area LCN, the chain length.
void Hand_Fat_Table_Over();

}  // namespace vr
