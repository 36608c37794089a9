// Volume identification: boot sector and superblock fields, read through the
// checked accessors so that a damaged volume can never cause an
// out-of-range access.
#include "platform/volume_identify.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "runtime/format.h"

namespace platform {

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kExtMagic = 0xEF53;
// Limits of a FAT12/FAT16 system area: 16-bit counts, and the FAT of the
// largest FAT16 volume (65524 clusters, 2 bytes each) fills 256 sectors.
constexpr uint32_t kMaxRootEntries = 0x7FF0;
constexpr uint32_t kMaxFatSectors = 256;
constexpr uint64_t kMaxSystemSectors = 32767;
constexpr int64_t kExtSuper = 1024;
// ext feature bits that decide between ext2, ext3 and ext4.
constexpr uint32_t kExtCompatJournal = 0x4;
constexpr uint32_t kExtIncompatExtents = 0x40;
constexpr uint32_t kExtIncompat64Bit = 0x80;
constexpr uint32_t kExtIncompatFlexBg = 0x200;

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

IdentifyResult RefuseSectorSize(const std::string& kind, uint32_t bytesPerSector,
                                std::string& reason) {
  reason = kind + " volume with " + vr::Str(bytesPerSector) +
           " bytes per sector: only 512-byte sectors are supported";
  return IdentifyResult::kUnrecognized;
}

IdentifyResult IdentifyNtfs(vr::Bytes b, VolumeFacts& f, std::string& reason) {
  f.fileSystem = "NTFS";
  f.bytesPerSector = vr::U16(b, 0x0B);
  if (f.bytesPerSector != kSector) return RefuseSectorSize("NTFS", f.bytesPerSector, reason);
  f.sectorsPerCluster = NtfsSectorsPerCluster(vr::U8(b, 0x0D));
  if (f.sectorsPerCluster == 0) {
    reason = "NTFS boot sector with an invalid cluster size";
    return IdentifyResult::kUnrecognized;
  }
  const uint32_t clusterBytes = f.sectorsPerCluster * kSector;
  f.totalSectors = vr::U64(b, 0x28);
  f.totalClusters = f.totalSectors / f.sectorsPerCluster;
  f.mftLcn = vr::U64(b, 0x30);
  f.mftMirrLcn = vr::U64(b, 0x38);
  f.bytesPerFileRecord = NtfsRecordBytes(vr::I8(b, 0x40), clusterBytes);
  f.bytesPerIndexBlock = NtfsRecordBytes(vr::I8(b, 0x44), clusterBytes);
  f.serialNumber = vr::U32(b, 0x48);
  if (f.totalClusters == 0 || f.bytesPerFileRecord < kSector || f.bytesPerIndexBlock < kSector ||
      f.mftLcn >= f.totalClusters) {
    reason = "NTFS boot sector with inconsistent geometry";
    return IdentifyResult::kUnrecognized;
  }
  return IdentifyResult::kOk;
}

IdentifyResult IdentifyFat(vr::Bytes b, VolumeFacts& f, std::string& reason) {
  const uint32_t bytesPerSector = vr::U16(b, 0x0B);
  const uint32_t spc = vr::U8(b, 0x0D);
  const uint32_t reserved = vr::U16(b, 0x0E);
  const uint32_t fats = vr::U8(b, 0x10);
  const uint32_t rootEntries = vr::U16(b, 0x11);
  const uint32_t total16 = vr::U16(b, 0x13);
  const uint32_t spf16 = vr::U16(b, 0x16);
  const uint32_t total32 = vr::U32(b, 0x20);
  const uint32_t spf32 = vr::U32(b, 0x24);
  const uint32_t totalSectors = total16 != 0 ? total16 : total32;

  // Every FAT volume has reserved sectors (the boot sector) and at least one
  // FAT; an NTFS boot sector has neither, whatever its name field says.
  if (reserved == 0 || fats == 0) {
    reason = "No file system recognised";
    return IdentifyResult::kUnrecognized;
  }
  // FAT32 keeps its FAT size at 0x24 and has no fixed root directory.
  if (spf16 == 0 || rootEntries == 0) {
    if (spf16 == 0 && rootEntries == 0 && spf32 != 0) {
      f.fileSystem = "FAT32";
      f.bytesPerSector = bytesPerSector;
      f.sectorsPerCluster = spc;
      f.totalSectors = totalSectors;
      f.label = vr::U8(b, 0x42) == 0x29 ? Trim(vr::GetAscii(b, 0x47, 11)) : "";
      if (f.label == "NO NAME") f.label.clear();
      f.serialNumber = vr::U8(b, 0x42) == 0x29 ? vr::U32(b, 0x43) : 0;
      return IdentifyResult::kOk;
    }
    reason = "FAT boot sector without a FAT size or root directory";
    return IdentifyResult::kUnrecognized;
  }
  f.fileSystem = "FAT";
  f.bytesPerSector = bytesPerSector;
  if (bytesPerSector != kSector) return RefuseSectorSize("FAT", bytesPerSector, reason);
  if (totalSectors == 0) {
    reason = "FAT boot sector without a total sector count";
    return IdentifyResult::kUnrecognized;
  }
  if (!PowerOfTwo(spc) || spc > 128) {
    reason = "FAT boot sector with invalid geometry";
    return IdentifyResult::kUnrecognized;
  }
  // The system area (FAT copies and root directory) is counted in 16 bits:
  // a root directory of 0x8000 entries or more, or FATs larger than any
  // FAT16 needs, describe no FAT volume.
  if (rootEntries > kMaxRootEntries) {
    reason = "FAT boot sector with an invalid root-entry count: " + vr::Str(rootEntries);
    return IdentifyResult::kUnrecognized;
  }
  if (spf16 > kMaxFatSectors ||
      uint64_t{fats} * spf16 + (rootEntries * 32 + kSector - 1) / kSector > kMaxSystemSectors) {
    reason = "FAT boot sector with an invalid FAT size: " + vr::Str(spf16) + " sectors per FAT";
    return IdentifyResult::kUnrecognized;
  }
  f.sectorsPerCluster = spc;
  f.reservedSectors = reserved;
  f.numberOfFats = fats;
  f.sectorsPerFat = spf16;
  f.rootEntries = rootEntries;
  f.rootDirSectors = (rootEntries * 32 + kSector - 1) / kSector;
  f.totalSectors = totalSectors;
  f.firstDataSector = uint64_t{reserved} + uint64_t{fats} * spf16 + f.rootDirSectors;
  if (f.firstDataSector >= totalSectors) {
    reason = "FAT boot sector with invalid geometry";
    return IdentifyResult::kUnrecognized;
  }
  f.totalClusters = (totalSectors - f.firstDataSector) / spc;
  if (f.totalClusters >= 65525) {
    // By the format's rule this many clusters make a FAT32 volume.
    f.fileSystem = "FAT32";
    return IdentifyResult::kOk;
  }
  f.fatBits = f.totalClusters < 4085 ? 12 : 16;
  // The FAT must hold an entry for every cluster.
  const uint64_t fatBytes = uint64_t{spf16} * kSector;
  // The highest entry is N + 1; a 12-bit entry is read as the 16 bits at
  // its byte offset.
  const uint64_t last = f.totalClusters + 1;
  const uint64_t needed = f.fatBits == 12 ? last + last / 2 + 2 : (last + 1) * 2;
  if (fatBytes < needed) {
    reason = "FAT too small for the clusters of the volume";
    return IdentifyResult::kUnrecognized;
  }
  if (vr::U8(b, 0x26) == 0x29) {
    f.serialNumber = vr::U32(b, 0x27);
    f.label = Trim(vr::GetAscii(b, 0x2B, 11));
    if (f.label == "NO NAME") f.label.clear();
  }
  return IdentifyResult::kOk;
}

IdentifyResult IdentifyExt(vr::Bytes b, VolumeFacts& f, std::string& reason) {
  const uint32_t compat = vr::U32(b, kExtSuper + 0x5C);
  const uint32_t incompat = vr::U32(b, kExtSuper + 0x60);
  const uint32_t logBlock = vr::U32(b, kExtSuper + 0x18);
  if (logBlock > 6) {
    reason = "ext superblock with an invalid block size";
    return IdentifyResult::kUnrecognized;
  }
  if (incompat & (kExtIncompatExtents | kExtIncompat64Bit | kExtIncompatFlexBg))
    f.fileSystem = "ext4";
  else if (compat & kExtCompatJournal)
    f.fileSystem = "ext3";
  else
    f.fileSystem = "ext2";
  const uint32_t blockBytes = 1024u << logBlock;
  f.sectorsPerCluster = blockBytes / kSector;
  uint64_t blocks = vr::U32(b, kExtSuper + 0x04);
  uint64_t freeBlocks = vr::U32(b, kExtSuper + 0x0C);
  if (incompat & kExtIncompat64Bit) {
    blocks |= uint64_t{vr::U32(b, kExtSuper + 0x150)} << 32;
    freeBlocks |= uint64_t{vr::U32(b, kExtSuper + 0x158)} << 32;
  }
  f.totalClusters = blocks;
  f.totalSectors = blocks * f.sectorsPerCluster;
  f.extFreeBlocks = freeBlocks;
  f.label = Trim(vr::GetAscii(b, kExtSuper + 0x78, 16));
  f.serialNumber = vr::U32(b, kExtSuper + 0x68);
  return IdentifyResult::kOk;
}

// The volume-label entry of a FAT root directory, if there is one.
bool FatRootLabel(BlockDevice& device, const VolumeFacts& f, std::string& label) {
  std::vector<uint8_t> root(uint64_t{f.rootDirSectors} * kSector);
  const uint64_t start =
      (uint64_t{f.reservedSectors} + uint64_t{f.numberOfFats} * f.sectorsPerFat) * kSector;
  if (!device.Read(start, root.data(), root.size())) return false;
  const vr::Bytes b(root);
  for (uint32_t i = 0; i < f.rootEntries; ++i) {
    const int64_t e = int64_t{i} * 32;
    const uint8_t first = vr::U8(b, e);
    if (first == 0) break;  // end of the directory
    if (first == 0xE5) continue;
    const uint8_t attr = vr::U8(b, e + 11);
    if ((attr & 0x0F) == 0x0F) continue;  // long-name entry
    if (attr & 0x08) {
      label = Trim(vr::GetAscii(b, e, 11));
      return true;
    }
  }
  return false;
}

}  // namespace

uint32_t NtfsSectorsPerCluster(uint8_t value) {
  if (value <= 0x80) return value;
  const unsigned shift = 256u - value;
  return shift < 32 ? (1u << shift) : 0;
}

uint32_t NtfsRecordBytes(int8_t value, uint32_t clusterBytes) {
  if (value < 0) {
    const int shift = -value;
    return shift < 31 ? (1u << shift) : 0;
  }
  const uint64_t bytes = uint64_t(value) * clusterBytes;
  return bytes <= 0x7FFFFFFF ? static_cast<uint32_t>(bytes) : 0;
}

uint32_t FatEntry(vr::Bytes fat, int fatBits, uint32_t cluster) {
  if (fatBits == 12) {
    const int64_t at = int64_t{cluster} + cluster / 2;
    const uint32_t pair = vr::U16(fat, at);
    return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
  }
  return vr::U16(fat, int64_t{cluster} * 2);
}

IdentifyResult IdentifyBootBytes(vr::Bytes head, VolumeFacts& facts, std::string& reason) {
  facts = VolumeFacts{};
  reason.clear();
  try {
    if (head.size() < kSector) {
      reason = "The volume is too short for a boot sector";
      return IdentifyResult::kReadFailed;
    }
    const std::string oem = vr::GetAscii(head, 3, 8);
    if (oem == "NTFS    ") return IdentifyNtfs(head, facts, reason);
    if (oem == "EXFAT   ") {
      facts.fileSystem = "exFAT";
      return IdentifyResult::kOk;
    }
    if (head.size() >= 2048 && vr::U16(head, kExtSuper + 0x38) == kExtMagic)
      return IdentifyExt(head, facts, reason);
    const uint8_t jump = vr::U8(head, 0);
    if ((jump == 0xEB || jump == 0xE9) && vr::U8(head, 0x0D) != 0 && vr::U16(head, 0x0B) != 0)
      return IdentifyFat(head, facts, reason);
    reason = "No file system recognised";
    return IdentifyResult::kUnrecognized;
  } catch (const vr::RunError&) {
    reason = "Damaged boot sector";
    return IdentifyResult::kUnrecognized;
  }
}

IdentifyResult IdentifyVolume(BlockDevice& device, VolumeFacts& facts, std::string& reason) {
  const uint64_t size = std::min<uint64_t>(device.Size(), 4096);
  std::vector<uint8_t> head(static_cast<size_t>(size));
  if (size < kSector || !device.Read(0, head.data(), head.size())) {
    facts = VolumeFacts{};
    reason = size < kSector ? "The volume is too short for a boot sector"
                            : "Error reading the boot sector";
    return IdentifyResult::kReadFailed;
  }
  const IdentifyResult r = IdentifyBootBytes(head, facts, reason);
  if (r != IdentifyResult::kOk) return r;
  if (facts.fileSystem == "FAT") {
    try {
      std::string label;
      if (FatRootLabel(device, facts, label)) facts.label = label;
    } catch (const vr::RunError&) {
      // A damaged root directory leaves the boot-sector label in place.
    }
  }
  return r;
}

bool CountFreeClusters(const std::shared_ptr<BlockDevice>& device, VolumeFacts& facts,
                       uint64_t& freeClusters, std::string& reason, bool& readFailed) {
  freeClusters = 0;
  readFailed = false;
  if (facts.fileSystem == "FAT") {
    std::vector<uint8_t> fat(uint64_t{facts.sectorsPerFat} * kSector);
    if (!device->Read(uint64_t{facts.reservedSectors} * kSector, fat.data(), fat.size())) {
      readFailed = true;
      reason = "Error reading the FAT";
      return false;
    }
    try {
      const vr::Bytes b(fat);
      for (uint64_t c = 2; c < facts.totalClusters + 2; ++c)
        if (FatEntry(b, facts.fatBits, static_cast<uint32_t>(c)) == 0) ++freeClusters;
    } catch (const vr::RunError&) {
      reason = "FAT too small for the clusters of the volume";
      return false;
    }
    return true;
  }
  if (facts.fileSystem == "ext2" || facts.fileSystem == "ext3" || facts.fileSystem == "ext4") {
    freeClusters = facts.extFreeBlocks;
    return true;
  }
  reason = facts.fileSystem == "NTFS" ? "NTFS volumes are measured by their driver"
                                      : facts.fileSystem + " volumes are not supported";
  return false;
}

}  // namespace platform
