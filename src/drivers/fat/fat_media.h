// The structures of one FAT12/FAT16 volume as the emulated FAT driver reads
// them: geometry from the boot sector, the first FAT (cached until the
// volume changes behind the driver), cluster chains and raw cluster reads.
// Every position counts from the reserved sectors the boot sector gives.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/block_device.h"
#include "platform/nt.h"
#include "platform/volume_identify.h"

namespace platform::fat {

class FatMedia {
 public:
  FatMedia(std::shared_ptr<BlockDevice> device, const VolumeFacts& facts);

  const VolumeFacts& Facts() const { return facts_; }
  uint32_t ClusterBytes() const { return facts_.sectorsPerCluster * kSectorBytes; }
  // Data clusters of the volume; they are numbered 2 .. Clusters() + 1.
  uint32_t Clusters() const { return static_cast<uint32_t>(facts_.totalClusters); }
  bool ValidCluster(uint32_t cluster) const { return cluster >= 2 && cluster <= Clusters() + 1; }

  // Forgets the cached FAT; Generation() changes, so that holders of
  // derived data (folders, open files) know to re-read.
  void Invalidate();
  uint64_t Generation() const { return generation_; }

  // Entry `cluster` (0 .. Clusters() + 1) of the first FAT.
  nt::NTSTATUS Entry(uint32_t cluster, uint32_t& value);
  // The chain from `start`, in order. A start or link outside the data
  // clusters, a link to a free, reserved or bad cluster, and a loop are
  // STATUS_DISK_CORRUPT_ERROR; a failed read STATUS_DEVICE_DATA_ERROR.
  nt::NTSTATUS Chain(uint32_t start, std::vector<uint32_t>& chain);
  // Whether a data cluster is in use: allocated in the FAT, or released by
  // a move less than the flush delay ago (NT keeps such clusters until its
  // next checkpoint, so the bitmap shows them and no move may target them).
  nt::NTSTATUS InUse(uint32_t cluster, bool& inUse);
  // Keeps `count` clusters from `first` in use until the platform clock
  // (ClockMs) reaches `untilMs`. Survives Invalidate(): it is the driver's
  // own state, not a copy of the volume's.
  void HoldReleased(uint32_t first, uint32_t count, uint64_t untilMs);

  // Reads `count` contiguous clusters from `first` into `buffer`.
  nt::NTSTATUS ReadClusters(uint32_t first, uint32_t count, uint8_t* buffer);
  // The root folder's fixed area behind the FATs.
  nt::NTSTATUS ReadRoot(std::vector<uint8_t>& bytes);

  static constexpr uint32_t kSectorBytes = 512;

 private:
  nt::NTSTATUS LoadFat();
  bool EndOfChain(uint32_t value) const;

  std::shared_ptr<BlockDevice> device_;
  VolumeFacts facts_;
  struct Held {
    uint32_t first, count;
    uint64_t untilMs;
  };
  std::vector<uint8_t> fat_;  // empty: not read yet
  std::vector<Held> held_;
  uint64_t generation_ = 1;
};

}  // namespace platform::fat
