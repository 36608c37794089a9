// The one open volume: how it was opened, its geometry from the system and
// the boot sector, and the sector-addressed raw I/O every engine uses.
#pragma once

#include <cstdint>
#include <string>

#include "platform/nt.h"
#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

constexpr uint32_t kAccessRead = 0x80000000u;       // GENERIC_READ
constexpr uint32_t kAccessReadWrite = 0xC0000000u;  // GENERIC_READ or GENERIC_WRITE
constexpr uint32_t kAccessWrite = 0x40000000u;      // GENERIC_WRITE
constexpr int kSectorSize = 512;

struct VolumeSessionData {
  std::string DriveName;       // "c:" form
  std::string FileSystemName;  // "NTFS" or "FAT"
  Integer IsNtfs;
  Long VolumeHandle = -1;
  Integer SharedMode;
  Integer NotLocked;
  Integer Locked;
  Long SectorsPerCluster;
  Long TotalSectors;
  Long TotalClusters;
  Long FreeClusters;
  Integer SectorsPerFileRecord;
  Integer SectorsPerIndexBlock;
  Long MftLcn;
  VbArray<Long> MftRunLengths;
  VbArray<Long> MftRunLcns;
  ByteArray BootSector = ByteArray(511);
  Integer RootEntries;
  Integer NumberOfFats;
  Integer SectorsPerFat;
  Integer SystemSectors;
  Long RecordsRead;
  Long IndexBlocksRead;
};

extern VolumeSessionData VolumeSession;

// Opens "\\.\" & the first two characters of DriveName; returns the handle
// or -1.
Long Open_Drive(const std::string& DriveName, uint32_t Access, uint32_t ShareMode);
// Exclusive and locked when possible, else shared ("Drive Busy" when neither).
Long Open_Lock_Drive(const std::string& DriveName, uint32_t Access);
// Unlocks when locked, closes, sets the handle to -1. Harmless on -1.
int Close_Drive(Long& Handle);
// Positions VolumeHandle at Sector x 512; false when the seek failed (the
// handle may then point anywhere: nothing may be transferred).
bool Seek_Sector(Long Sector);
// One read of whole sectors at Sector on VolumeHandle. A failed or short
// transfer calls Read_Error and returns false.
bool Raw_Read(Long Sector, MutableBytes Buffer);

std::string FS_Name(const std::string& Root);
// Sectors per cluster x total clusters; stores FreeClusters and
// TotalClusters. 0 after "Unable to access " & Root.
Long Disk_Size(const std::string& Root, Long& SectorsPerCluster);
// "Unable to access " & Root, then, when the system gave one, a line with
// the drive, the path and the system's reason ("c: /x.img: No such file or
// directory").
void Unable_To_Access(const std::string& Root);
std::string Win_Version();

}  // namespace vr
