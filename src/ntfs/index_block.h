// Directory index blocks ("INDX"): locating a block by its VCN in a folder's
// index-allocation segments, reading it and applying its fixup.
#pragma once

#include "platform/update_sequence.h"
#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Index-entry VCNs count sectors when an index block is smaller than a
// cluster, clusters otherwise. Returns the index of the segment holding Vcn
// (in that unit) and the offset inside it, or -1.
Integer Vcn_To_Run(Long Vcn, const VbArray<Long>& Lengths, Long& Offset);

// Applies the update-sequence fixup of an index block. A sector end that
// does not carry the sequence number is left as it is, and the first such
// sector is returned (kUsaIntact when none; kUsaBadArray, nothing changed,
// when the header's array does not describe the block).
int Fixup_INDX(MutableBytes Buffer);

// Reads the index block at Vcn of a folder whose index-allocation segments
// are Lengths/Lcns into Buffer (SectorsPerIndexBlock sectors), following the
// block into the next segment when it is split. True for a fixed-up "INDX"
// block; false for a free block ("AFP" NUL, no error) or after a recorded
// error ("II<0", "INDX", a failed read).
bool Read_INDX(Long Vcn, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
               ByteArray& Buffer);

}  // namespace vr
