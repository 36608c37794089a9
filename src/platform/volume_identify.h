// Identifying a volume from its boot sector (and, for ext2/3/4, its
// superblock): the file-system name, the geometry, the label, and the count
// of free clusters taken from the volume's own allocation structures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/block_device.h"
#include "runtime/bytes.h"

namespace platform {

enum class IdentifyResult {
  kOk,            // recognised; `facts` filled
  kReadFailed,    // the device could not be read (or is too short for a boot sector)
  kUnrecognized,  // readable, but no kind we know, or a geometry we refuse
};

struct VolumeFacts {
  std::string fileSystem;  // "NTFS", "FAT", "FAT32", "exFAT", "ext2", "ext3", "ext4"
  std::string label;       // volume label ("" when none)
  uint32_t serialNumber = 0;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 0;  // ext: 512-byte sectors per block
  uint64_t totalSectors = 0;
  uint64_t totalClusters = 0;  // FAT: data clusters; NTFS: clusters of the volume
  // FAT12/FAT16.
  int fatBits = 0;  // 12 or 16, by the cluster-count rule
  uint32_t reservedSectors = 0;
  uint32_t numberOfFats = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t rootEntries = 0;
  uint32_t rootDirSectors = 0;
  uint64_t firstDataSector = 0;  // sector of cluster 2
  // NTFS.
  uint64_t mftLcn = 0;
  uint64_t mftMirrLcn = 0;
  uint32_t bytesPerFileRecord = 0;
  uint32_t bytesPerIndexBlock = 0;
  // ext2/3/4.
  uint64_t extFreeBlocks = 0;
};

// Decides the kind and geometry from the first bytes of a volume (at least
// 512; 2048 or more to recognise ext2/3/4). `reason` explains a refusal.
IdentifyResult IdentifyBootBytes(vr::Bytes head, VolumeFacts& facts, std::string& reason);

// Reads the head of the device and identifies it. FAT volumes also get the
// label of their root directory when it has one.
IdentifyResult IdentifyVolume(BlockDevice& device, VolumeFacts& facts, std::string& reason);

// NTFS geometry fields as the format defines them.
// Sectors per cluster at 0x0D: values above 0x80 stand for 2^(256 - value).
uint32_t NtfsSectorsPerCluster(uint8_t value);
// Clusters per record/index block at 0x40/0x44: signed; a negative n stands
// for 2^(-n) bytes. Returns the size in bytes (0 when out of range).
uint32_t NtfsRecordBytes(int8_t value, uint32_t clusterBytes);

// FAT12 or FAT16 entry `cluster` of a FAT held in `fat` (checked accessors:
// a FAT shorter than the entry raises run-time error 9).
uint32_t FatEntry(vr::Bytes fat, int fatBits, uint32_t cluster);

// Counts the free clusters of an identified volume from the structures
// identification reads: the first FAT or the ext superblock. NTFS keeps its
// count in the cluster bitmap, which its driver reads (FsVolumeFacts). False
// with a reason when the structures cannot be read or the kind is not
// counted here; `readFailed` tells a failed device read from a damaged
// structure.
bool CountFreeClusters(const std::shared_ptr<BlockDevice>& device, VolumeFacts& facts,
                       uint64_t& freeClusters, std::string& reason, bool& readFailed);

}  // namespace platform
