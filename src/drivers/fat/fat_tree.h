// The folder tree of a FAT12/FAT16 volume for the emulated FAT driver:
// folders read through their cluster chains (the root from its fixed
// area), kept until the volume changes, and paths resolved to entries.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/fat/fat_directory.h"
#include "drivers/fat/fat_media.h"

namespace platform::fat {

// What a path names: the root folder, or an entry of some folder.
struct Resolved {
  bool root = false;
  DirEntry entry;  // for the root: a folder entry without a name or clusters
};

class FatTree {
 public:
  FatTree(std::shared_ptr<BlockDevice> device, const VolumeFacts& facts);

  FatMedia& Media() { return media_; }
  uint64_t Generation() const { return media_.Generation(); }
  // Drops the FAT and every folder read so far.
  void Invalidate();

  // The entries of the folder whose first cluster is `firstCluster` (0 for
  // the root). The pointer stays valid until the next Invalidate().
  nt::NTSTATUS Folder(uint32_t firstCluster, const std::vector<DirEntry>*& entries);

  // Resolves `path` (components joined by "\", "" for the root), matching
  // long and 8.3 names without regard to case. A missing last component is
  // STATUS_OBJECT_NAME_NOT_FOUND, a missing or non-folder one before it
  // STATUS_OBJECT_PATH_NOT_FOUND; a folder that leads back to one of its
  // ancestors (the root included) is STATUS_DISK_CORRUPT_ERROR.
  nt::NTSTATUS Resolve(const std::string& path, Resolved& resolved);

 private:
  FatMedia media_;
  std::map<uint32_t, std::vector<DirEntry>> folders_;
};

}  // namespace platform::fat
