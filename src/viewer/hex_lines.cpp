#include "viewer/hex_lines.h"

#include <algorithm>

namespace vr {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int64_t RowEnd(Bytes Block, int64_t Offset) {
  return std::min<int64_t>(Offset + kHexRowBytes, static_cast<int64_t>(Block.size()));
}
}  // namespace

std::string Offset_Text(int64_t Offset) {
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, Offset >>= 4) s[static_cast<size_t>(i)] = kDigits[Offset & 15];
  return s;
}

std::string Hex_Row(Bytes Block, int64_t Offset) {
  std::string s;
  for (int64_t i = std::max<int64_t>(Offset, 0); i < RowEnd(Block, Offset); ++i) {
    const uint8_t b = Block[static_cast<size_t>(i)];
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
    s += ' ';
  }
  return s;
}

std::string Char_Row(Bytes Block, int64_t Offset) {
  std::string s;
  for (int64_t i = std::max<int64_t>(Offset, 0); i < RowEnd(Block, Offset); ++i) {
    const uint8_t b = Block[static_cast<size_t>(i)];
    s += (b < 32 || b >= 127) ? '.' : static_cast<char>(b);
  }
  return s;
}

std::vector<std::string> Hex_Listing(Bytes Block) {
  std::vector<std::string> out;
  for (int64_t at = 0; at < static_cast<int64_t>(Block.size()); at += kHexRowBytes)
    out.push_back(Offset_Text(at) + "  " + Hex_Row(Block, at) + " " + Char_Row(Block, at));
  return out;
}

}  // namespace vr
