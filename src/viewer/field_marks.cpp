#include "viewer/field_marks.h"

#include <algorithm>

#include "ntfs/attribute_types.h"
#include "viewer/hex_lines.h"
#include "viewer/record_walk.h"

namespace vr {

namespace {

constexpr int kVolumeName = 0x60;

class Marker {
 public:
  explicit Marker(Bytes block) : block_(block) {}
  // Marks the bytes of the field that lie inside the block.
  void Add(int64_t start, int64_t length, int colour, int columns = kMarkData) {
    const int64_t end = std::min<int64_t>(start + length, static_cast<int64_t>(block_.size()));
    start = std::max<int64_t>(start, 0);
    if (end > start) marks_.push_back({start, end - start, colour, columns});
  }
  std::vector<FieldMark>& Marks() { return marks_; }

 private:
  Bytes block_;
  std::vector<FieldMark> marks_;
};

// The run list of a non-resident attribute: header, length and offset bytes
// of every run, up to the terminating zero or the attribute's end.
void Mark_Run_List(Bytes b, const AttributeRef& a, Marker& m) {
  int64_t at = a.offset + static_cast<int64_t>(Safe_LE(b, a.offset + 32, 2));
  const int64_t end = std::min<int64_t>(a.offset + a.length, static_cast<int64_t>(b.size()));
  while (at < end) {
    const int header = static_cast<int>(Safe_LE(b, at, 1));
    if (header == 0) break;
    const int lengthBytes = header & 15;
    const int offsetBytes = header >> 4;
    m.Add(at, 1, kMarkRunHeader);
    m.Add(at + 1, lengthBytes, kMarkRunLength);
    m.Add(at + 1 + lengthBytes, offsetBytes, kMarkRunOffset);
    at += 1 + lengthBytes + offsetBytes;
  }
}

// Index entries from Start to End: reference, length, name of $I30 keys,
// sub-node VCN. Stops at the last entry or a damaged length.
void Mark_Index_Entries(Bytes b, int64_t start, int64_t end, Marker& m) {
  end = std::min<int64_t>(end, static_cast<int64_t>(b.size()));
  int64_t at = start;
  while (at + 16 <= end) {
    const int64_t length = static_cast<int64_t>(Safe_LE(b, at + 8, 2));
    const int64_t keyLength = static_cast<int64_t>(Safe_LE(b, at + 10, 2));
    const int64_t flags = static_cast<int64_t>(Safe_LE(b, at + 12, 2));
    if (length < 16) break;
    m.Add(at + 8, 2, kMarkIndexLength);
    if (!(flags & 2)) {
      m.Add(at, 6, kMarkIndexRef);
      // A file-name key: the name characters.
      if (keyLength >= 0x42) {
        const int64_t chars = static_cast<int64_t>(Safe_LE(b, at + 16 + 0x40, 1));
        m.Add(at + 16 + 0x42, std::min(2 * chars, keyLength - 0x42), kMarkIndexName, kMarkBoth);
      }
    }
    if (flags & 1) m.Add(at + length - 8, 8, kMarkSubNode);
    if (flags & 2) break;
    at += length;
  }
}

void Mark_Attribute_List(Bytes b, int64_t value, int64_t length, Marker& m) {
  int64_t at = value;
  const int64_t end = value + length;
  while (at + 24 <= end) {
    const int64_t entryLength = static_cast<int64_t>(Safe_LE(b, at + 4, 2));
    if (entryLength < 24) break;
    const bool data = Safe_LE(b, at, 4) == kData;
    m.Add(at + 4, 1, 5);
    m.Add(at, 1, 4);
    if (data) m.Add(at + 8, 4, 7);
    m.Add(at + 16, 3, data ? 2 : 7);
    at += entryLength;
  }
}

void Mark_Attribute(Bytes b, const AttributeRef& a, Marker& m) {
  m.Add(a.offset, 1, 4);
  m.Add(a.offset + 4, 2, 4);
  if (a.nonResident) {
    m.Add(a.offset + 0x30, 8, kMarkValueSize);
    Mark_Run_List(b, a, m);
    return;
  }
  m.Add(a.offset + 16, 4, kMarkValueSize);
  int64_t value = 0, length = 0;
  if (!Resident_Value(b, a, value, length)) return;
  switch (a.type) {
    case kStandardInformation: m.Add(a.offset + 56, 1, 7); break;
    case kAttributeList: Mark_Attribute_List(b, value, length, m); break;
    case kFileName: {
      const int64_t chars = static_cast<int64_t>(Safe_LE(b, value + 0x40, 1));
      m.Add(value + 0x42, std::min(2 * chars, length - 0x42), 1, kMarkBoth);
      break;
    }
    case kVolumeName: m.Add(value, length, 1, kMarkBoth); break;
    case kIndexRoot: {
      m.Add(value + 8, 4, kMarkIndexSize);
      const int64_t node = value + 16;
      const int64_t first = node + static_cast<int64_t>(Safe_LE(b, node, 4));
      const int64_t used = node + static_cast<int64_t>(Safe_LE(b, node + 4, 4));
      Mark_Index_Entries(b, first, std::min(used, value + length), m);
      break;
    }
    case kBitmap: m.Add(value, length, kMarkBitmap); break;
    default: break;
  }
}

}  // namespace

std::vector<FieldMark> File_Record_Marks(Bytes Record) {
  Marker m(Record);
  m.Add(0, 4, 1, kMarkBoth);
  m.Add(8, 2, 3);
  m.Add(20, 2, 4);
  m.Add(24, 2, 5);
  // The update sequence number sits where the header field at offset 4
  // puts the array: 42 on NT 4.0 volumes, 48 on later ones.
  m.Add(static_cast<int64_t>(Safe_LE(Record, 4, 2)), 2, 3);
  const int64_t inUse = static_cast<int64_t>(Safe_LE(Record, 24, 4));
  if (inUse >= 8) m.Add(inUse - 8, 8, 5);
  for (const AttributeRef& a : Walk_Attributes(Record)) Mark_Attribute(Record, a, m);
  return std::move(m.Marks());
}

std::vector<FieldMark> Index_Block_Marks(Bytes Block) {
  Marker m(Block);
  m.Add(0, 4, 1, kMarkBoth);
  m.Add(static_cast<int64_t>(Safe_LE(Block, 4, 2)), 2, 3);
  m.Add(16, 8, kMarkSubNode);  // the block's own VCN
  const int64_t node = 0x18;
  const int64_t first = node + static_cast<int64_t>(Safe_LE(Block, node, 4));
  const int64_t used = node + static_cast<int64_t>(Safe_LE(Block, node + 4, 4));
  Mark_Index_Entries(Block, first, used, m);
  return std::move(m.Marks());
}

std::vector<FieldMark> Fat_Dir_Marks(Bytes Block) {
  Marker m(Block);
  for (int64_t at = 0; at + 32 <= static_cast<int64_t>(Block.size()); at += 32) {
    const uint8_t first = Block[static_cast<size_t>(at)];
    if (first == 0) break;  // no entries follow the end mark
    if (first == 0xE5) {
      m.Add(at, 32, kMarkDirDeleted, kMarkBoth);
      continue;
    }
    const uint8_t attributes = Block[static_cast<size_t>(at + 11)];
    if (attributes == 0x0F) continue;  // a long-name piece
    m.Add(at, 11, (attributes & 0x10) ? kMarkDirFolder : kMarkDirName, kMarkText);
    m.Add(at + 26, 2, kMarkDirCluster);
    m.Add(at + 28, 4, kMarkDirSize);
  }
  return std::move(m.Marks());
}

std::vector<MarkBox> Page_Boxes(const std::vector<FieldMark>& Marks, int64_t PageOffset) {
  std::vector<MarkBox> out;
  for (const FieldMark& f : Marks) {
    const int64_t from = std::max(f.start, PageOffset);
    const int64_t to = std::min(f.start + f.length, PageOffset + kHexPageBytes);
    for (int64_t i = from; i < to; ++i)
      out.push_back({static_cast<int>(i - PageOffset), f.colour, f.columns});
  }
  return out;
}

}  // namespace vr
