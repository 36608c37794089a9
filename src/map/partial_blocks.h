// The "Partial" pass: boxes that the optimiser has left partly free.
#pragma once

namespace vr {

// Every complete box now shown Empty whose free clusters (counted over the
// free segments FreeCursor .. FreeCount) are neither none nor all of the box
// and more than one fiftieth of it becomes Partial. An incomplete last box is
// never examined.
void Show_Partial_Blocks();
// The same on a FAT volume (the FAT's own cluster numbers).
void FAT_Show_Partial_Blocks();

}  // namespace vr
