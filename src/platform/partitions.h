// Whole-disk images: the partition table of a disk (read by util-linux's
// libfdisk) and the choice of one partition as a drive's volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Partition {
  int number = 0;            // 1-based, as the table numbers it
  uint64_t startSector = 0;  // 512-byte sectors from the start of the disk
  uint64_t sectors = 0;      // length in 512-byte sectors
  std::string type;          // the table's name for the type ("FAT16", "Microsoft basic data")
  std::string typeCode;      // "0x06" on MBR, the type GUID on GPT
};

struct PartitionTable {
  std::string kind;  // "dos" (MBR) or "gpt"
  std::vector<Partition> partitions;
};

// Reads the partition table of the disk image or block device at `path`.
// False when the disk holds no table we can read (or cannot be opened).
bool ReadPartitionTable(const std::string& path, PartitionTable& table);

// The part of a disk a drive map entry picked (`partition=N` or
// `offset=SECTOR`): its first byte and its length. False with a reason when
// the disk has no such partition or the choice lies past its end.
bool ChoosePartition(const std::string& path, uint64_t diskBytes, int partition,
                     int64_t offsetSector, uint64_t& startByte, uint64_t& lengthBytes,
                     std::string& reason);

// One line per partition: number, start and size in sectors, size text and
// type, for the message that a whole disk needs a choice.
std::vector<std::string> PartitionLines(const PartitionTable& table);

}  // namespace platform
