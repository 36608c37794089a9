// NTFS run lists: decoding a non-resident attribute's mapping pairs into
// segments, counting fragments, and writing runs back in the same format.
//
// Segments are two parallel 1-based Long arrays (lengths in clusters, first
// clusters) with a 16-bit count kept by the caller; element 0 is not used.
// Sparse runs have no clusters on disk: they are counted, not stored.
#pragma once

#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Decoder state kept across the calls that join the extents of one
// attribute; reset when a call starts with a segment count of 0.
extern Long RunVcn;       // clusters decoded so far (located and sparse runs)
extern Integer RunKinds;  // 1: a located run seen, 2: a sparse run seen

// Decodes the run list at Buffer[Start] that must end before End, appending
// segments after the Count already present; returns the new count (also left
// in Count). Clusters and Sparse receive the clusters of located and sparse
// runs. Faults are recorded as "SegErr", "BlkErr" and "SegNoEnd"; a run-time
// error inside is recorded with the context "Segments". The segments decoded
// before a fault stay in the arrays.
Integer Decode_Segments(Integer& Count, Bytes Buffer, Long Start, Long End, VbArray<Long>& Lengths,
                        VbArray<Long>& Lcns, Long& Clusters, Long& Sparse);

// Fragments of a segment list trimmed to 0 .. count: 1 plus every segment
// that does not start where the one before ends. An empty list gives 1.
Integer Count_Fragments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns);

// Writes Value at Position in the smallest signed width that holds it (1 to
// 4 bytes, little-endian two's complement); returns the width, also in Width.
Integer Put_Num_Width(MutableBytes Buffer, Long Value, Long Position, Integer& Width);

// Writes the low Width bytes of Value at Position.
void Put_Num(MutableBytes Buffer, Long Value, Long Position, Integer Width);

// Writes one run (header, length, offset from the previous run's first
// cluster) at Position; returns the position after it.
Long Put_Run(MutableBytes Buffer, Long Position, Long Length, Long Offset);

}  // namespace vr
