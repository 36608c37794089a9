// The update sequence (multi-sector protection) of FILE records and index
// blocks. On the disk the last two bytes of every 512-byte sector hold the
// structure's sequence number and their real contents wait in the array the
// header points to (offset 4, count at offset 6 = sectors + 1). A sector
// whose end does not hold the number was not written with the others (a torn
// write).
//
// The rules are libntfs-3g's: every sector is checked before any is changed,
// so a torn structure is left exactly as read; before a write the number is
// advanced (skipping 0 and 0xFFFF) and every sector is protected with it.
#pragma once

#include <cstdint>

#include "runtime/bytes.h"

namespace vr {

// Outcome of a check: intact, the array does not describe a structure of
// that many sectors, or else the 0-based index of the first torn sector.
constexpr int kUsaIntact = -1;
constexpr int kUsaBadArray = -2;

// The array must lie in the first sector ahead of its protected end, at an
// even offset, with one entry per sector besides the number; the block must
// hold `sectors` sectors.
bool UsaArrayFits(Bytes block, int64_t sectors);

// Checks every sector of a block as read from the disk; changes nothing.
int CheckUpdateSequence(Bytes block, int64_t sectors);

// Checks every sector, then puts the saved bytes back at the sector ends.
// On any outcome other than kUsaIntact the block is unchanged.
int PostReadFixup(MutableBytes block, int64_t sectors);

// Puts the saved bytes back only where a sector end holds the number and
// leaves torn sectors as they are; returns the first torn sector (or
// kUsaIntact, or kUsaBadArray with nothing changed). For readers that take a
// torn block as it is.
int PostReadFixupMatching(MutableBytes block, int64_t sectors);

// Before a write: advances the sequence number (0 and 0xFFFF are skipped),
// saves each sector's last two bytes in the array and puts the number there.
// False, with the block unchanged, when the array does not fit.
bool PreWriteFixup(MutableBytes block, int64_t sectors);

// After a write: the saved bytes back at the sector ends, so the block reads
// as before PreWriteFixup (with the new number in the array).
void PostWriteFixup(MutableBytes block, int64_t sectors);

}  // namespace vr
