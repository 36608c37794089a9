// Field marking: which bytes of a block are marked in which colour, in the
// hexadecimal column, the character column or both. The window draws each
// mark with the XOR pen, so drawing the same marks twice removes them.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/bytes.h"

namespace vr {

enum MarkColumns : int { kMarkData = 1, kMarkText = 2, kMarkBoth = 3 };

struct FieldMark {
  int64_t start = 0;   // offset in the block
  int64_t length = 0;  // bytes
  int colour = 0;      // index of the 16 standard colours
  int columns = kMarkData;
  bool operator==(const FieldMark&) const = default;
};

// Colours of the fields the viewer marks beyond the FILE record fields
// with fixed colours.
constexpr int kMarkValueSize = 13;   // resident value length, non-resident data size
constexpr int kMarkRunHeader = 12;   // run-list header byte
constexpr int kMarkRunLength = 10;   // run length bytes
constexpr int kMarkRunOffset = 11;   // run offset bytes
constexpr int kMarkIndexRef = 2;     // file reference of an index entry
constexpr int kMarkIndexLength = 4;  // index entry length
constexpr int kMarkIndexName = 1;    // name of an index entry
constexpr int kMarkSubNode = 6;      // sub-node VCN of an index entry
constexpr int kMarkIndexSize = 5;    // $INDEX_ROOT bytes per index block
constexpr int kMarkBitmap = 14;      // resident $BITMAP bytes
constexpr int kMarkDirName = 10;     // FAT: name of a used entry (characters)
constexpr int kMarkDirFolder = 9;    // FAT: name of a folder entry (characters)
constexpr int kMarkDirDeleted = 12;  // FAT: a deleted entry (both columns)
constexpr int kMarkDirCluster = 4;   // FAT: start cluster
constexpr int kMarkDirSize = 5;      // FAT: file size

// The marks of a FILE record, an index block ("INDX") and a FAT directory
// block. A damaged structure ends its marking; nothing here raises.
std::vector<FieldMark> File_Record_Marks(Bytes Record);
std::vector<FieldMark> Index_Block_Marks(Bytes Block);
std::vector<FieldMark> Fat_Dir_Marks(Bytes Block);

// One box of a page: byte `index` (0 .. 511) of the visible page.
struct MarkBox {
  int index = 0;
  int colour = 0;
  int columns = kMarkData;
  bool operator==(const MarkBox&) const = default;
};

// The boxes of the marks that fall on the 512-byte page at PageOffset.
std::vector<MarkBox> Page_Boxes(const std::vector<FieldMark>& Marks, int64_t PageOffset);

}  // namespace vr
