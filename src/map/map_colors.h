// The block map's categories: the palette index each one is drawn in and
// its legend word.
#pragma once

namespace vr {

constexpr int kColorSys = 10;     // data of a file with the DOS system attribute
constexpr int kColorFixed = 2;    // unmovable data
constexpr int kColorFile = 13;    // an ordinary contiguous file, and folders
constexpr int kColorBigFile = 5;  // a contiguous file above BigFileClusters
constexpr int kColorCmprs = 11;   // a contiguous compressed file (NTFS only)
constexpr int kColorFrag = 12;    // a fragmented file, all its segments
constexpr int kColorMoving = 15;  // data being moved; used but not yet classified
constexpr int kColorMoved = 9;    // data already moved by the optimiser
constexpr int kColorEmpty = 7;    // free space
constexpr int kColorPartial = 6;  // a box partly free after moves
constexpr int kColorBad = 8;      // FAT clusters marked bad or reserved
constexpr int kColorMarked = 0;   // a box where the two volume bitmaps disagree
constexpr int kColorYellow = 14;  // protected on both file systems; no category
// Added to a FAT colour: paint only into a box not painted yet.
constexpr int kIntoUnpainted = 128;

constexpr const char* kLegendSys = "Sys";
constexpr const char* kLegendFixed = "Fixed";
constexpr const char* kLegendFile = "File";
constexpr const char* kLegendBigFile = "BigFile";
constexpr const char* kLegendCmprs = "Cmprs";
constexpr const char* kLegendFrag = "Frag";
constexpr const char* kLegendMoving = "Moving";
constexpr const char* kLegendMoved = "Moved";
constexpr const char* kLegendEmpty = "Empty";
constexpr const char* kLegendPartial = "Partial";

}  // namespace vr
