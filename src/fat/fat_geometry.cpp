#include "fat/fat_geometry.h"

#include <bit>

namespace vr {

namespace {

constexpr int64_t kFirstReservedValue = 0xFFF0;  // 16-bit entries from here are not clusters

bool PowerOfTwo(int64_t v) { return v > 0 && std::has_single_bit(static_cast<uint64_t>(v)); }

FatGeometry Decode(Bytes b) {
  FatGeometry g;
  if (GetAscii(b, 3, 8) == "EXFAT   ") {
    g.Kind = FatKind::kExFat;
    return g;
  }
  const int64_t bps = U16(b, 0x0B);
  const int64_t spc = U8(b, 0x0D);
  const int64_t reserved = U16(b, 0x0E);
  const int64_t fats = U8(b, 0x10);
  const int64_t root = U16(b, 0x11);
  const int64_t total16 = U16(b, 0x13);
  const int64_t spf16 = U16(b, 0x16);
  const int64_t total32 = U32(b, 0x20);
  const int64_t spf32 = U32(b, 0x24);

  if (bps < 512 || bps > 4096 || !PowerOfTwo(bps) || !PowerOfTwo(spc) || reserved < 1 || fats < 1)
    return g;
  g.BytesPerSector = bps;
  g.SectorsPerCluster = spc;
  g.ReservedSectors = reserved;
  g.NumberOfFats = fats;
  g.RootEntries = root;
  g.SectorsPerFat = spf16;
  if (spf16 == 0 || root == 0) {
    // FAT32 keeps its FAT size at 0x24 and its root directory in clusters.
    if (spf16 == 0 && spf32 != 0) g.Kind = FatKind::kFat32;
    return g;
  }

  const int64_t total = total16 != 0 ? total16 : total32;
  const int64_t rootSectors = (root * 32 + bps - 1) / bps;
  const int64_t rootStart = reserved + fats * spf16;
  const int64_t firstData = rootStart + rootSectors;
  if (total <= firstData) return g;
  const int64_t clusters = (total - firstData) / spc;
  if (clusters < 1) return g;
  if (clusters >= kFat16ClusterLimit) {
    g.Kind = FatKind::kFat32;  // by the format's count, whatever the labels say
    return g;
  }

  g.Kind = clusters < kFat12ClusterLimit ? FatKind::kFat12 : FatKind::kFat16;
  g.TotalSectors = total;
  g.FirstFatSector = reserved;
  g.RootDirSector = rootStart;
  g.RootDirSectors = rootSectors;
  g.FirstDataSector = firstData;
  g.DataClusters = clusters;
  g.EntryBits = g.Kind == FatKind::kFat12 ? 12 : 16;
  const bool collides = g.Kind == FatKind::kFat12 ? clusters > kClassicFat12Clusters
                                                  : clusters + 1 >= kFirstReservedValue;
  g.NotOptimisable = Flag(collides);
  return g;
}

}  // namespace

bool FatGeometry::Usable() const {
  return (Kind == FatKind::kFat12 || Kind == FatKind::kFat16) && BytesPerSector == 512;
}

std::string FatGeometry::KindName() const {
  switch (Kind) {
    case FatKind::kFat12: return "FAT12";
    case FatKind::kFat16: return "FAT16";
    case FatKind::kFat32: return "FAT32";
    case FatKind::kExFat: return "exFAT";
    case FatKind::kNotFat: break;
  }
  return "";
}

FatGeometry Fat_Geometry(Bytes BootSector) {
  try {
    return Decode(BootSector);
  } catch (const RunError&) {
    return FatGeometry{};  // too short to be a boot sector
  }
}

Long Cluster_Sector(const FatGeometry& Geometry, Long Cluster) {
  return Geometry.FirstDataSector + (Cluster - 2) * Geometry.SectorsPerCluster;
}

}  // namespace vr
