// Partition tables through libfdisk, read-only.
#include "platform/partitions.h"

#include <libfdisk/libfdisk.h>

#include <cstdio>
#include <memory>

namespace platform {

namespace {

constexpr uint64_t kSector = 512;

struct ContextFree {
  void operator()(fdisk_context* c) const { fdisk_unref_context(c); }
};
struct TableFree {
  void operator()(fdisk_table* t) const { fdisk_unref_table(t); }
};

std::string Hex(unsigned code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

std::string SizeWords(uint64_t sectors) {
  char text[32];
  const double mb = static_cast<double>(sectors) / 2048.0;
  if (mb >= 1024.0)
    std::snprintf(text, sizeof text, "%.2f GB", mb / 1024.0);
  else if (mb >= 1.0)
    std::snprintf(text, sizeof text, "%.1f MB", mb);
  else
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(sectors) / 2.0);
  return text;
}

}  // namespace

bool ReadPartitionTable(const std::string& path, PartitionTable& table) {
  table = PartitionTable{};
  std::unique_ptr<fdisk_context, ContextFree> cxt(fdisk_new_context());
  if (!cxt || fdisk_assign_device(cxt.get(), path.c_str(), 1) != 0) return false;
  if (!fdisk_has_label(cxt.get())) return false;
  // Sector numbers below are in the disk's own sectors; the program's are
  // 512 bytes (images and most disks agree).
  const uint64_t sectorBytes = fdisk_get_sector_size(cxt.get());
  if (sectorBytes == 0 || sectorBytes % kSector != 0) return false;
  const uint64_t scale = sectorBytes / kSector;
  if (const fdisk_label* label = fdisk_get_label(cxt.get(), nullptr))
    table.kind = fdisk_label_get_name(label);
  fdisk_table* raw = nullptr;
  if (fdisk_get_partitions(cxt.get(), &raw) != 0) return false;
  std::unique_ptr<fdisk_table, TableFree> tb(raw);
  const bool gpt = table.kind == "gpt";
  for (size_t i = 0; i < fdisk_table_get_nents(tb.get()); ++i) {
    fdisk_partition* pa = fdisk_table_get_partition(tb.get(), i);
    if (pa == nullptr || !fdisk_partition_is_used(pa) || fdisk_partition_is_container(pa) ||
        !fdisk_partition_has_start(pa) || !fdisk_partition_has_size(pa) ||
        !fdisk_partition_has_partno(pa))
      continue;
    Partition p;
    p.number = static_cast<int>(fdisk_partition_get_partno(pa)) + 1;
    p.startSector = fdisk_partition_get_start(pa) * scale;
    p.sectors = fdisk_partition_get_size(pa) * scale;
    if (const fdisk_parttype* type = fdisk_partition_get_type(pa)) {
      const char* name = fdisk_parttype_get_name(type);
      p.type = name != nullptr ? name : "";
      const char* guid = fdisk_parttype_get_string(type);
      p.typeCode = gpt && guid != nullptr ? guid : Hex(fdisk_parttype_get_code(type));
    }
    table.partitions.push_back(std::move(p));
  }
  return true;
}

bool ChoosePartition(const std::string& path, uint64_t diskBytes, int partition,
                     int64_t offsetSector, uint64_t& startByte, uint64_t& lengthBytes,
                     std::string& reason) {
  PartitionTable table;
  const bool haveTable = ReadPartitionTable(path, table);
  const Partition* chosen = nullptr;
  if (partition > 0) {
    if (!haveTable) {
      reason = "no partition table to take partition " + std::to_string(partition) + " from";
      return false;
    }
    for (const Partition& p : table.partitions)
      if (p.number == partition) chosen = &p;
    if (chosen == nullptr) {
      reason = "no partition " + std::to_string(partition) + " in its partition table";
      return false;
    }
    startByte = chosen->startSector * kSector;
    lengthBytes = chosen->sectors * kSector;
  } else {
    // An offset names where the volume starts; it ends where the partition
    // starting there ends, else at the end of the disk.
    startByte = static_cast<uint64_t>(offsetSector) * kSector;
    lengthBytes = diskBytes > startByte ? diskBytes - startByte : 0;
    if (haveTable)
      for (const Partition& p : table.partitions)
        if (p.startSector == static_cast<uint64_t>(offsetSector)) lengthBytes = p.sectors * kSector;
  }
  if (startByte >= diskBytes || lengthBytes == 0 || lengthBytes > diskBytes - startByte) {
    reason = (partition > 0 ? "partition " + std::to_string(partition)
                            : "offset " + std::to_string(offsetSector)) +
             " lies past the end of the disk";
    return false;
  }
  return true;
}

std::vector<std::string> PartitionLines(const PartitionTable& table) {
  std::vector<std::string> lines;
  for (const Partition& p : table.partitions) {
    std::string type = p.type.empty() ? p.typeCode : p.type + " (" + p.typeCode + ")";
    lines.push_back(
        "partition=" + std::to_string(p.number) + "  start=" + std::to_string(p.startSector) +
        "  sectors=" + std::to_string(p.sectors) + "  " + SizeWords(p.sectors) + "  " + type);
  }
  return lines;
}

}  // namespace platform
