// Claiming clusters for one owner in a bitmap of clusters in use: the
// cross-link test of the scans. A cluster that some owner claimed before is
// shared by two owners (two files, or two attributes of one file); moving
// one of them and releasing its old clusters would destroy the other.
#pragma once

#include <cstdint>

#include "runtime/vb_array.h"

namespace vr {

// No cluster of the run was claimed before.
constexpr int64_t kClaimFree = -1;
// The run leaves the bitmap: nothing was claimed.
constexpr int64_t kClaimOutside = -2;

// Sets the bits of clusters Start .. Start + Length - 1 in Bitmap and returns
// the first of them that was set already (every bit is set either way), or
// kClaimFree. A run that does not lie inside the bitmap sets nothing and
// gives kClaimOutside; an empty run gives kClaimFree. One bit test per
// cluster, one byte test per whole byte.
int64_t Claim_Run(ByteArray& Bitmap, int64_t Start, int64_t Length);

}  // namespace vr
