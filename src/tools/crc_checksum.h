// The checksum of file contents: a CRC-32 (zlib's crc32) carried from chunk
// to chunk in a 32-bit accumulator, and its fold to the 16-bit value the
// checksum files keep.
#pragma once

#include <cstdint>

#include "runtime/checked.h"

namespace vr {

// Feeds `Count` bytes at `Buffer` into `Accumulator`. The caller sets the
// accumulator to 0 for each file and calls once per chunk, in order; the
// same bytes in the same chunks always leave the same accumulator. The
// return value carries nothing the caller needs (it is the accumulator).
int32_t Get_CRC_CheckSum(const uint8_t* Buffer, int32_t Count, int32_t* Accumulator);

// The 16-bit checksum of a file: the high half Or the low half of the
// accumulator, read as a signed 16-bit number.
Integer Fold_CheckSum(int32_t Accumulator);

}  // namespace vr
