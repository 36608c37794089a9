// NTFS geometry from the boot sector, read as the format defines it.
#pragma once

#include "runtime/bytes.h"
#include "runtime/checked.h"

namespace vr {

// Sectors per cluster (byte 0x0D): above 0x80 the byte means 2^(256 - value).
// 0 for a value that gives no cluster size.
Long Ntfs_Sectors_Per_Cluster(Bytes Boot);

// Sectors per FILE record (Offset 0x40) or index block (Offset 0x44): a
// negative byte n means 2^(-n) bytes, a positive one that many clusters.
// 0 when the size is not a whole number of sectors or is out of range.
Integer Ntfs_Block_Sectors(Bytes Boot, int Offset, Long SectorsPerCluster);

// The NTFS geometry of the session from a boot sector: SectorsPerCluster,
// SectorsPerFileRecord, SectorsPerIndexBlock and MftLcn (low 32 bits).
void Set_Ntfs_Geometry(Bytes Boot);

}  // namespace vr
