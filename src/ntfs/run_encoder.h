// Encoding a run list: the extents of one non-resident attribute (or of one
// extent record of it) written as NTFS mapping pairs, the inverse of
// Decode_Segments. Holes (sparse extents) are kept; every number takes the
// fewest bytes that hold it as a signed value, as NTFS and libntfs-3g write
// them.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/bytes.h"

namespace vr {

// `Length` clusters of the attribute from cluster `Vcn` of it, lying at `Lcn`
// on the volume, or a hole (kSparseLcn) with no clusters on the disk.
struct RunExtent {
  int64_t Vcn;
  int64_t Lcn;
  int64_t Length;
};
constexpr int64_t kSparseLcn = -1;

struct EncodedRuns {
  // The extents form a run list: each at least one cluster long, each
  // starting where the one before ends, located ones at cluster 0 or later.
  bool Valid = false;
  // Bytes of the mapping pairs with their terminating 0 (0 when not valid).
  int64_t Size = 0;
  // Valid and Size <= the room given: only then was the room written.
  bool Fits = false;
};

// Bytes of the smallest little-endian two's-complement field holding Value
// (1 to 8).
int SignedWidth(int64_t Value);

// Encodes Extents as mapping pairs into Room: per extent a header byte
// (offset width x 16 + length width), the length, and for a located extent
// its distance from the previous located extent's first cluster (from 0 for
// the first); then a 0. Nothing is written unless the whole list fits.
EncodedRuns EncodeRunList(std::span<const RunExtent> Extents, MutableBytes Room);

}  // namespace vr
