#include "ntfs/ntfs_geometry.h"

#include <cstdint>

#include "volume/session.h"

namespace vr {

Long Ntfs_Sectors_Per_Cluster(Bytes Boot) {
  const int v = U8(Boot, 0x0D);
  if (v == 0) return 0;
  if (v <= 0x80) return v;
  const int shift = 256 - v;
  return shift <= 30 ? Long(int32_t{1} << shift) : Long(0);
}

Integer Ntfs_Block_Sectors(Bytes Boot, int Offset, Long SectorsPerCluster) {
  const int v = I8(Boot, Offset);
  int64_t sectors = 0;
  if (v < 0) {
    const int shift = -v;
    if (shift < 9 || shift > 22) return 0;  // under one sector, or absurd
    sectors = int64_t{1} << (shift - 9);
  } else {
    sectors = int64_t{v} * SectorsPerCluster.Value();
  }
  if (sectors < 1 || sectors > 32767) return 0;
  return Integer(sectors);
}

void Set_Ntfs_Geometry(Bytes Boot) {
  VolumeSession.SectorsPerCluster = Ntfs_Sectors_Per_Cluster(Boot);
  VolumeSession.SectorsPerFileRecord =
      Ntfs_Block_Sectors(Boot, 0x40, VolumeSession.SectorsPerCluster);
  VolumeSession.SectorsPerIndexBlock =
      Ntfs_Block_Sectors(Boot, 0x44, VolumeSession.SectorsPerCluster);
  VolumeSession.MftLcn = I32(Boot, 0x30);
}

}  // namespace vr
