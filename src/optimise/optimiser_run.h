// One optimiser run on the volume in the map window: which passes run in
// which order (defragment, pack rounds, defragment again, clearing the MFT
// zone), the waits for the file system and bitmap re-reads between them on a
// volume in use, the re-view of the map, and the closing report lines.
#pragma once

#include "runtime/checked.h"

namespace vr {

void DefragPack_All();
// Moves the files that lie in the MFT zone above the allocation floor.
void Pass3();
// Rechecks every file; with Repaint set, redraws the block map.
void ReView(Integer Repaint);

}  // namespace vr
