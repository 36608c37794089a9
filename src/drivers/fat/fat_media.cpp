// Reading a FAT12/FAT16 volume's FAT, chains and clusters for the driver.
#include "drivers/fat/fat_media.h"

#include "platform/platform.h"
#include "runtime/bytes.h"

namespace platform::fat {

FatMedia::FatMedia(std::shared_ptr<BlockDevice> device, const VolumeFacts& facts)
    : device_(std::move(device)), facts_(facts) {}

void FatMedia::Invalidate() {
  std::vector<uint8_t>().swap(fat_);
  ++generation_;
}

nt::NTSTATUS FatMedia::LoadFat() {
  if (!fat_.empty()) return nt::STATUS_SUCCESS;
  std::vector<uint8_t> fat(uint64_t{facts_.sectorsPerFat} * kSectorBytes);
  if (fat.empty()) return nt::STATUS_DISK_CORRUPT_ERROR;
  if (!device_->Read(uint64_t{facts_.reservedSectors} * kSectorBytes, fat.data(), fat.size()))
    return nt::STATUS_DEVICE_DATA_ERROR;
  fat_ = std::move(fat);
  return nt::STATUS_SUCCESS;
}

bool FatMedia::EndOfChain(uint32_t value) const {
  return value >= (facts_.fatBits == 12 ? 0xFF8u : 0xFFF8u);
}

nt::NTSTATUS FatMedia::Entry(uint32_t cluster, uint32_t& value) {
  value = 0;
  if (cluster > Clusters() + 1) return nt::STATUS_DISK_CORRUPT_ERROR;
  const nt::NTSTATUS status = LoadFat();
  if (status != nt::STATUS_SUCCESS) return status;
  try {
    value = FatEntry(vr::Bytes(fat_), facts_.fatBits, cluster);
  } catch (const vr::RunError&) {
    return nt::STATUS_DISK_CORRUPT_ERROR;  // a FAT shorter than the volume needs
  }
  return nt::STATUS_SUCCESS;
}

nt::NTSTATUS FatMedia::Chain(uint32_t start, std::vector<uint32_t>& chain) {
  chain.clear();
  if (!ValidCluster(start)) return nt::STATUS_DISK_CORRUPT_ERROR;
  uint32_t cluster = start;
  for (;;) {
    // A chain longer than the volume has clusters runs in a loop.
    if (chain.size() >= Clusters()) return nt::STATUS_DISK_CORRUPT_ERROR;
    chain.push_back(cluster);
    uint32_t next = 0;
    const nt::NTSTATUS status = Entry(cluster, next);
    if (status != nt::STATUS_SUCCESS) return status;
    if (EndOfChain(next)) return nt::STATUS_SUCCESS;
    // Free (0), reserved (1), bad (0x?FF7) or past the volume.
    if (!ValidCluster(next)) return nt::STATUS_DISK_CORRUPT_ERROR;
    cluster = next;
  }
}

nt::NTSTATUS FatMedia::InUse(uint32_t cluster, bool& inUse) {
  inUse = false;
  uint32_t value = 0;
  const nt::NTSTATUS status = Entry(cluster, value);
  if (status != nt::STATUS_SUCCESS) return status;
  inUse = value != 0;
  if (!inUse && !held_.empty()) {
    const uint64_t now = ClockMs();
    std::erase_if(held_, [now](const Held& h) { return h.untilMs <= now; });
    for (const Held& h : held_)
      if (cluster >= h.first && cluster - h.first < h.count) inUse = true;
  }
  return nt::STATUS_SUCCESS;
}

void FatMedia::HoldReleased(uint32_t first, uint32_t count, uint64_t untilMs) {
  if (count > 0) held_.push_back(Held{first, count, untilMs});
}

nt::NTSTATUS FatMedia::ReadClusters(uint32_t first, uint32_t count, uint8_t* buffer) {
  if (count == 0) return nt::STATUS_SUCCESS;
  if (!ValidCluster(first) || !ValidCluster(first + count - 1))
    return nt::STATUS_DISK_CORRUPT_ERROR;
  const uint64_t sector = facts_.firstDataSector + uint64_t{first - 2} * facts_.sectorsPerCluster;
  if (!device_->Read(sector * kSectorBytes, buffer, uint64_t{count} * ClusterBytes()))
    return nt::STATUS_DEVICE_DATA_ERROR;
  return nt::STATUS_SUCCESS;
}

nt::NTSTATUS FatMedia::ReadRoot(std::vector<uint8_t>& bytes) {
  bytes.assign(uint64_t{facts_.rootDirSectors} * kSectorBytes, 0);
  const uint64_t sector =
      uint64_t{facts_.reservedSectors} + uint64_t{facts_.numberOfFats} * facts_.sectorsPerFat;
  if (!device_->Read(sector * kSectorBytes, bytes.data(), bytes.size()))
    return nt::STATUS_DEVICE_DATA_ERROR;
  // The root holds RootEntries slots; the rest of its last sector is not part of it.
  bytes.resize(uint64_t{facts_.rootEntries} * 32);
  return nt::STATUS_SUCCESS;
}

}  // namespace platform::fat
