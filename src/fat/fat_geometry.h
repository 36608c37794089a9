// Where a FAT12/FAT16 volume keeps its tables, taken from the boot sector as
// the FAT format defines them: the first FAT copy follows the reserved
// sectors (boot offset 0x0E), the root directory follows the FAT copies and
// cluster 2 follows the root directory. Every FAT, root-directory and data
// position of the FAT engine counts from here.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/bytes.h"
#include "runtime/checked.h"

namespace vr {

enum class FatKind { kNotFat, kFat12, kFat16, kFat32, kExFat };

// The FAT format's cluster-count limits: fewer than 4085 data clusters means
// 12-bit entries, fewer than 65525 means 16-bit entries.
constexpr int32_t kFat12ClusterLimit = 4085;
constexpr int32_t kFat16ClusterLimit = 65525;
// The earlier 4080-cluster width rule; FAT12 volumes above it have cluster
// numbers that collide with the reserved entry values.
constexpr int32_t kClassicFat12Clusters = 4080;

struct FatGeometry {
  FatKind Kind = FatKind::kNotFat;
  Long BytesPerSector;     // 0x0B
  Long SectorsPerCluster;  // 0x0D
  Long ReservedSectors;    // 0x0E: sectors before the first FAT copy
  Long NumberOfFats;       // 0x10
  Long RootEntries;        // 0x11
  Long SectorsPerFat;      // 0x16
  Long TotalSectors;       // 0x13, or 0x20 when that is 0
  Long FirstFatSector;     // = ReservedSectors
  Long RootDirSector;      // first sector of the root directory
  Long RootDirSectors;     // root directory length in sectors
  Long FirstDataSector;    // sector of cluster 2
  Long DataClusters;       // data clusters by the format's count
  Integer EntryBits;       // 12 or 16 on FAT12/FAT16, else 0
  // -1 on volumes whose highest cluster numbers collide with the reserved
  // entry values (FAT12 of 4081..4084 clusters, FAT16 whose clusters reach
  // 0xFFF0): such a volume is read, never optimised.
  Integer NotOptimisable;

  // FAT12 or FAT16 with 512-byte sectors: the only volumes the FAT engine
  // reads.
  bool Usable() const;
  // "FAT12", "FAT16", "FAT32", "exFAT" or "" for anything else.
  std::string KindName() const;
};

// Decodes the geometry of a boot sector. Never raises: a boot sector that is
// short or not FAT12/FAT16 gives a geometry that is not Usable().
FatGeometry Fat_Geometry(Bytes BootSector);

// First sector of data cluster `Cluster` (2 or more).
Long Cluster_Sector(const FatGeometry& Geometry, Long Cluster);

}  // namespace vr
