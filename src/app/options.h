// The user's options: four check marks of the Options menu kept in the
// settings store, section "Options". "Pack" and "ReView" default to on and
// are stored only as "No"; "DefragHuge" and "PackHuge" default to off and are
// stored only as "Yes". An option switched back to its default has no key.
#pragma once

namespace vr {

// Start-up: sets the four check marks from the store (exact comparisons) and
// the mirrors ViewAfterDefrag, DefragHugeFiles, PackHugeFiles.
void Read_Options();

}  // namespace vr
