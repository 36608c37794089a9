// A FAT file's clusters as segments: the chain of FatTable entries from its
// first cluster, cut into runs of contiguous clusters.
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Above this many segments a chain is reported (and walked on).
constexpr int kFatChainFragmentLimit = 32000;

// Follows the chain from StartCluster through FatTable. Lengths and Starts
// receive the segments at 1 .. count (element 0 unused; count =
// Lengths.UBound()), the result is the chain's total clusters. Faults are
// recorded in the error state (ErrorText, ErrorCount, Failed):
//   "Invalid cluster"     a cluster outside 2 .. MaxCluster; result 0
//   "Invalid chain"       a free entry inside the chain; result = clusters
//                         of the completed segments, the last one has
//                         length 0. A chain that comes back to a cluster it
//                         already passed gives the same text and result 0.
//   "Fragments > 32000."  recorded for every segment past 32000; the walk
//                         goes on
//   run-time error text   (past 32767 segments) result 0, ErrorWhere
//                         "FAT_Chain"
Long FAT_Chain(Long StartCluster, VbArray<Long>& Lengths, VbArray<Long>& Starts);

}  // namespace vr
