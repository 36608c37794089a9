#include "fat/fat_table.h"

#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

VbArray<uint16_t> FatTable;
ByteArray FatBytes;
Long MaxCluster;
FatGeometry FatLayout;

namespace {

// Why the engine will not read this boot sector as FAT12/FAT16.
std::string Refusal(const FatGeometry& g) {
  if (g.Kind == FatKind::kFat12 || g.Kind == FatKind::kFat16)
    return g.KindName() + " volume with " + Str(g.BytesPerSector) +
           " bytes per sector: only 512-byte sectors are supported";
  if (g.Kind == FatKind::kNotFat) return "FAT boot sector with invalid geometry";
  return "Unsupported File System: " + g.KindName();
}

// Bytes of FAT that entries 0 .. last occupy.
int64_t BytesFor(Long last, Integer bits) {
  const int64_t entries = static_cast<int64_t>(last) + 1;
  return bits == 12 ? (entries * 3 + 1) / 2 : entries * 2;
}

}  // namespace

void Unpack_FAT12() {
  const Bytes raw = FatBytes.Span();
  // Entries 0 and 1 (media byte and end mark) are unpacked too, so that the
  // table packs back to the same bytes.
  for (Long i = 0; i <= MaxCluster; ++i) {
    const Long p = i + i / 2;
    const uint16_t v = U16(raw, p);
    uint16_t entry =
        (i % 2 != 0) ? static_cast<uint16_t>(v >> 4) : static_cast<uint16_t>(v & 0xFFF);
    // 0xFF0..0xFF6 are cluster numbers on a volume that has such clusters;
    // only values that cannot be a cluster of this volume are marks.
    if (entry >= 0xFF0 && entry > MaxCluster) entry |= 0xF000;
    FatTable(i) = entry;
  }
}

void Pack_FAT() {
  const MutableBytes raw = FatBytes.Span();
  if (FatLayout.EntryBits == 16) {
    for (Long i = 0; i <= FatTable.UBound(); ++i) PutU16(raw, i * 2, FatTable(i));
    return;
  }
  for (Long i = 0; i <= MaxCluster; ++i) {
    const Long p = i + i / 2;
    const uint16_t entry = FatTable(i) & 0xFFF;
    const uint16_t v = U16(raw, p);
    PutU16(raw, p,
           (i % 2 != 0) ? static_cast<uint16_t>((v & 0x000F) | (entry << 4))
                        : static_cast<uint16_t>((v & 0xF000) | entry));
  }
}

bool Load_FAT() {
  try {
    FatLayout = Fat_Geometry(VolumeSession.BootSector.Span());
    if (!FatLayout.Usable()) {
      Set_Error(Refusal(FatLayout));
      return false;
    }
    // The clusters the system reports, never more than the boot sector
    // leaves room for after the root directory.
    Long clusters = VolumeSession.TotalClusters;
    if (clusters > FatLayout.DataClusters) clusters = FatLayout.DataClusters;
    if (clusters < 0) clusters = 0;
    MaxCluster = clusters + 1;

    const Long fatSize = FatLayout.SectorsPerFat * kSectorSize;
    if (BytesFor(MaxCluster, FatLayout.EntryBits) > fatSize) {
      Set_Error("FAT too small for the clusters of the volume");
      return false;
    }
    FatBytes.ReDim(fatSize - 1);
    if (!Raw_Read(FatLayout.FirstFatSector, FatBytes.Span())) return false;

    if (FatLayout.EntryBits == 16) {
      const Bytes raw = FatBytes.Span();
      FatTable.ReDim(FatLayout.SectorsPerFat * 256 - 1);
      for (Long i = 0; i <= FatTable.UBound(); ++i) FatTable(i) = U16(raw, i * 2);
    } else {
      FatTable.ReDim(MaxCluster);
      Unpack_FAT12();
    }
    return true;
  } catch (const RunError& e) {
    Trap_Error("Load_FAT", e.Number(), e.Description());
    return false;
  }
}

Long Fat_Copy_Difference() {
  try {
    // Entries 0 and 1 (the media byte and the shutdown bits) are left out;
    // entry 2 starts at byte 3 of a 12-bit FAT and byte 4 of a 16-bit one.
    const bool twelve = FatLayout.EntryBits == 12;
    const int64_t from = twelve ? 3 : 4;
    const int64_t to = BytesFor(MaxCluster, FatLayout.EntryBits);
    ByteArray copy(FatBytes.UBound());
    for (Long k = 1; k < FatLayout.NumberOfFats; ++k) {
      if (!Raw_Read(FatLayout.FirstFatSector + k * FatLayout.SectorsPerFat, copy.Span())) return 0;
      for (int64_t b = from; b < to; ++b)
        if (copy(b) != FatBytes(b)) return Long(twelve ? b * 2 / 3 : b / 2);
    }
    return 0;
  } catch (const RunError& e) {
    Trap_Error("Fat_Copy_Difference", e.Number(), e.Description());
    return 0;
  }
}

}  // namespace vr
