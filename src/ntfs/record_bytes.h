// Field access inside FILE records and index blocks: numbers of 1 to 4
// bytes, raw text and attribute names. Every read goes through the checked
// accessors, so a field past the end of the buffer raises error 9.
#pragma once

#include <string>

#include "runtime/bytes.h"
#include "runtime/checked.h"

namespace vr {

// Unsigned value of 1, 2, 3 or 4 bytes at Offset; a 4-byte value with its
// top bit set comes back as the negative Long with the same bits. Any other
// width gives 0.
Long Get_Num(Bytes Buffer, int64_t Offset, int Width);

// Length bytes at Offset, one character per byte.
std::string Get_Text(Bytes Buffer, int64_t Offset, int64_t Length);

// A name stored as a length byte at Offset and that many UTF-16 code units at
// Offset + 2. Names are kept as 8-bit text: each character is the low byte of
// its code unit.
std::string Get_Name(Bytes Buffer, int64_t Offset);

// The highest VCN of the non-resident attribute at AttributeOffset (header
// offset 0x18), in full: comparing only its low bits would take a large
// attribute for a small one.
int64_t Attribute_Last_Vcn(Bytes Buffer, int64_t AttributeOffset);

// True when the attribute at AttributeOffset, Length bytes long, cannot be
// read as what its header says: a type code that is no attribute type (the
// types are multiples of 0x10 up to 0x100), a resident value that is not
// 8-byte aligned or runs past the attribute's end, or a $FILE_NAME value too
// short for its name. A reader would take other bytes for the value
// (libntfs-3g refuses to open such a record).
bool Attribute_Damaged(Bytes Buffer, int64_t AttributeOffset, int64_t Length);

// True when the attribute at AttributeOffset is named "$I30", the name of a
// folder's file-name index. Other indexes ($SDH, $SII, $O, $Q, $R) never make
// a folder.
bool Is_I30_Attribute(Bytes Buffer, int64_t AttributeOffset);

}  // namespace vr
