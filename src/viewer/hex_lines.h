// The viewer's text: 16 bytes a row as an offset, hexadecimal digits and
// characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/bytes.h"

namespace vr {

constexpr int kHexRowBytes = 16;
constexpr int kHexPageBytes = 512;
constexpr int kHexPageRows = kHexPageBytes / kHexRowBytes;  // 32

// The row offset in the block, four upper-case hexadecimal digits ("01F0").
std::string Offset_Text(int64_t Offset);
// Up to 16 bytes from Offset: each as two upper-case digits and a blank.
std::string Hex_Row(Bytes Block, int64_t Offset);
// The same bytes as characters; bytes below 32 and from 127 up are ".".
std::string Char_Row(Bytes Block, int64_t Offset);

// The whole block, one line a row: offset, two blanks, the hexadecimal
// digits, a blank, the characters.
std::vector<std::string> Hex_Listing(Bytes Block);

}  // namespace vr
