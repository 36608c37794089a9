// The allocation table of the open FAT volume, held in memory as one
// unsigned 16-bit entry per cluster whatever the volume's entry width:
// 0 free, 0xFFF0..0xFFF6 reserved, 0xFFF7 bad, 0xFFF8..0xFFFF end of chain,
// anything else the next cluster of a chain.
#pragma once

#include <cstdint>

#include "fat/fat_geometry.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

constexpr uint16_t kFatFree = 0;
constexpr uint16_t kFatReserved = 0xFFF0;  // first reserved value
constexpr uint16_t kFatBad = 0xFFF7;
constexpr uint16_t kFatEnd = 0xFFF8;  // first end-of-chain value

// Entries 0 .. MaxCluster at least, indexed by cluster number.
extern VbArray<uint16_t> FatTable;
// The first FAT copy exactly as read from the disk (12-bit packing kept).
extern ByteArray FatBytes;
// Highest valid cluster number: TotalClusters + 1 (data clusters are
// 2 .. MaxCluster).
extern Long MaxCluster;
// The geometry the table was loaded with.
extern FatGeometry FatLayout;

// Reads the first FAT copy of the open volume (after the reserved sectors)
// through the raw read and fills FatTable, widening 12-bit entries. Returns
// false after a failed read ("Error reading drive" is recorded) or, with the
// error recorded, on a volume that is not FAT12/FAT16 with 512-byte sectors
// or whose FAT is too short for its clusters.
bool Load_FAT();
// The first cluster whose entry differs between the loaded FAT and another
// copy the boot sector declares; 0 when every copy agrees. A failed read
// records its error and gives 0.
Long Fat_Copy_Difference();

// Widens the raw 12-bit table in FatBytes into FatTable (entries 0 ..
// MaxCluster). Entries of 0xFF0 and above that cannot be a cluster of this
// volume get their top four bits set (0xFF7 -> 0xFFF7, 0xFF8 -> 0xFFF8).
void Unpack_FAT12();

// Writes FatTable back into FatBytes in the volume's own packing: on FAT12
// the low 12 bits of entries 0 .. MaxCluster, two entries in three bytes
// (so 0xFFF8 goes back as 0xFF8), on FAT16 every entry as 16 bits. Bytes
// past the last entry are kept. FatBytes then holds what a FAT copy is
// written from.
void Pack_FAT();

// FatTable(Cluster) read unsigned.
inline Long Fat_Next(Long Cluster) { return FatTable(Cluster); }

}  // namespace vr
