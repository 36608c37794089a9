// FAT12/FAT16 directory entries as the emulated FAT driver reports them:
// 8.3 names, VFAT long names, attributes, sizes and dates decoded from the
// raw 32-byte slots of a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs_driver.h"
#include "runtime/bytes.h"

namespace platform::fat {

constexpr uint32_t kSlotBytes = 32;

// FAT attribute bits of a directory slot (offset 0x0B).
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrLabel = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;  // all four low bits: a VFAT long-name slot

// One file or folder of a FAT folder.
struct DirEntry {
  FsEntry entry;              // as FindFirstFileA reports it
  uint8_t fatAttributes = 0;  // the raw attribute byte
  uint32_t firstCluster = 0;  // 0: no clusters (empty file)
  uint32_t slot = 0;          // index of the short-name slot in its folder
  bool IsFolder() const { return (fatAttributes & kAttrDirectory) != 0; }
};

// Decodes the slots of a folder held in `bytes` (the root's fixed area, or
// a folder's clusters in chain order) up to the first slot whose first byte
// is 0. Erased slots, the volume label and "." / ".." are left out; long
// names whose sequence or checksum does not hold fall back to the 8.3 name.
std::vector<DirEntry> DecodeFolder(vr::Bytes bytes);

// The 8.3 name of the 11 name bytes at `offset` of `bytes`: "NAME.EXT",
// "NAME" without an extension; a first byte 0x05 stands for 0xE5; NT's
// lower-case flags (slot byte 0x0C: 0x08 name, 0x10 extension) applied.
std::string ShortName(vr::Bytes bytes, int64_t offset, uint8_t caseFlags);

// The checksum of the 11 name bytes at `offset` that every long-name slot
// of the entry repeats.
uint8_t ShortNameChecksum(vr::Bytes bytes, int64_t offset);

// A FAT date and time (and 10 ms units, 0..199) as an NT FILETIME. FAT
// keeps local time; it is taken as UTC. 0 for a date of 0 or one that
// names no day.
uint64_t FatTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenMs);

// FILE_ATTRIBUTE_* of a FAT attribute byte; FILE_ATTRIBUTE_NORMAL when none
// of the reported bits is set, as NT answers.
uint32_t NtAttributes(uint8_t fatAttributes);

// True when `name` names the entry: its long or its 8.3 name, compared
// without regard to case.
bool NameMatches(const DirEntry& e, const std::string& name);

}  // namespace platform::fat
