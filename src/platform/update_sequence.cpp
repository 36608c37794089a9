#include "platform/update_sequence.h"

#include "platform/ntfs_layout.h"

namespace vr {

namespace {

constexpr int64_t kSector = 512;

int64_t SectorEnd(int64_t k) { return kSector * k + kSector - 2; }
int64_t Saved(Bytes block, int64_t k) {
  return static_cast<int64_t>(GetField(block, kUsaOffset)) + 2 + 2 * k;
}
uint16_t Number(Bytes block) {
  return U16(block, static_cast<int64_t>(GetField(block, kUsaOffset)));
}

}  // namespace

bool UsaArrayFits(Bytes block, int64_t sectors) {
  if (sectors < 1 || static_cast<int64_t>(block.size()) < sectors * kSector) return false;
  const int64_t offset = static_cast<int64_t>(GetField(block, kUsaOffset));
  const int64_t count = static_cast<int64_t>(GetField(block, kUsaCount));
  return offset % 2 == 0 && offset >= kUsaCount.offset + 2 && count == sectors + 1 &&
         offset + 2 * count <= kSector - 2;
}

int CheckUpdateSequence(Bytes block, int64_t sectors) {
  if (!UsaArrayFits(block, sectors)) return kUsaBadArray;
  const uint16_t usn = Number(block);
  for (int64_t k = 0; k < sectors; ++k)
    if (U16(block, SectorEnd(k)) != usn) return static_cast<int>(k);
  return kUsaIntact;
}

int PostReadFixup(MutableBytes block, int64_t sectors) {
  const int result = CheckUpdateSequence(block, sectors);
  if (result != kUsaIntact) return result;
  PostWriteFixup(block, sectors);
  return kUsaIntact;
}

int PostReadFixupMatching(MutableBytes block, int64_t sectors) {
  if (!UsaArrayFits(block, sectors)) return kUsaBadArray;
  const uint16_t usn = Number(block);
  int torn = kUsaIntact;
  for (int64_t k = 0; k < sectors; ++k) {
    if (U16(block, SectorEnd(k)) == usn) {
      PutU16(block, SectorEnd(k), U16(block, Saved(block, k)));
    } else if (torn == kUsaIntact) {
      torn = static_cast<int>(k);
    }
  }
  return torn;
}

bool PreWriteFixup(MutableBytes block, int64_t sectors) {
  if (!UsaArrayFits(block, sectors)) return false;
  const int64_t at = static_cast<int64_t>(GetField(block, kUsaOffset));
  uint16_t usn = static_cast<uint16_t>(U16(block, at) + 1);
  if (usn == 0 || usn == 0xFFFF) usn = 1;
  PutU16(block, at, usn);
  for (int64_t k = 0; k < sectors; ++k) {
    PutU16(block, Saved(block, k), U16(block, SectorEnd(k)));
    PutU16(block, SectorEnd(k), usn);
  }
  return true;
}

void PostWriteFixup(MutableBytes block, int64_t sectors) {
  if (!UsaArrayFits(block, sectors)) return;
  for (int64_t k = 0; k < sectors; ++k) PutU16(block, SectorEnd(k), U16(block, Saved(block, k)));
}

}  // namespace vr
