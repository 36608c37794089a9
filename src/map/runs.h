// Painting runs of clusters: one paint per box the run touches (every
// ClustersPerBox-th cluster from the start, then the last cluster), so a run
// of any length costs about one paint per box.
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// NTFS: paints clusters OBlk .. OBlk + OLen - 1 with `Kolor`.
void Redraw_BBBB(Long OLen, Long OBlk, Integer Kolor);
// NTFS: paints every segment of a 1-based segment list (trimmed to 0 ..
// count) that has a non-zero length.
void Redraw_XXXX(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns, Integer Kolor);

// FAT: paints the clusters of OLen bytes that start at sector OSec.
void FAT_Redraw_BBBB(Long OLen, Long OSec, Integer Kolor);
// FAT: paints every segment of a 1-based segment list with a non-zero
// length.
void FAT_Redraw_XXXX(const VbArray<Long>& Lengths, const VbArray<Long>& Starts, Integer Kolor);

}  // namespace vr
