// Folder reading and path resolution for the emulated FAT driver.
#include "drivers/fat/fat_tree.h"

#include <algorithm>

#include "platform/fs_driver.h"

namespace platform::fat {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

FatTree::FatTree(std::shared_ptr<BlockDevice> device, const VolumeFacts& facts)
    : media_(std::move(device), facts) {}

void FatTree::Invalidate() {
  folders_.clear();
  media_.Invalidate();
}

nt::NTSTATUS FatTree::Folder(uint32_t firstCluster, const std::vector<DirEntry>*& entries) {
  entries = nullptr;
  auto cached = folders_.find(firstCluster);
  if (cached != folders_.end()) {
    entries = &cached->second;
    return nt::STATUS_SUCCESS;
  }
  std::vector<uint8_t> bytes;
  if (firstCluster == 0) {
    const nt::NTSTATUS status = media_.ReadRoot(bytes);
    if (status != nt::STATUS_SUCCESS) return status;
  } else {
    std::vector<uint32_t> chain;
    nt::NTSTATUS status = media_.Chain(firstCluster, chain);
    if (status != nt::STATUS_SUCCESS) return status;
    const uint32_t clusterBytes = media_.ClusterBytes();
    bytes.resize(chain.size() * uint64_t{clusterBytes});
    // Contiguous clusters are read in one transfer.
    for (size_t i = 0; i < chain.size();) {
      size_t run = 1;
      while (i + run < chain.size() && chain[i + run] == chain[i] + run) ++run;
      status = media_.ReadClusters(chain[i], static_cast<uint32_t>(run),
                                   bytes.data() + i * uint64_t{clusterBytes});
      if (status != nt::STATUS_SUCCESS) return status;
      i += run;
    }
  }
  auto& slot = folders_[firstCluster];
  slot = DecodeFolder(vr::Bytes(bytes));
  entries = &slot;
  return nt::STATUS_SUCCESS;
}

nt::NTSTATUS FatTree::Resolve(const std::string& path, Resolved& resolved) {
  resolved = Resolved{};
  resolved.root = true;
  resolved.entry.fatAttributes = kAttrDirectory;
  resolved.entry.entry.attributes = nt::FILE_ATTRIBUTE_DIRECTORY;
  const std::vector<std::string> parts = Components(path);
  std::vector<uint32_t> ancestors = {0};  // first clusters of the folders passed; 0 the root
  uint32_t folder = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    const std::vector<DirEntry>* entries = nullptr;
    const nt::NTSTATUS status = Folder(folder, entries);
    if (status != nt::STATUS_SUCCESS) return status;
    auto it = std::find_if(entries->begin(), entries->end(),
                           [&](const DirEntry& e) { return NameMatches(e, parts[i]); });
    if (it == entries->end())
      return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
    if (!it->IsFolder()) {
      if (!last) return STATUS_OBJECT_PATH_NOT_FOUND;
    } else {
      if (std::find(ancestors.begin(), ancestors.end(), it->firstCluster) != ancestors.end())
        return nt::STATUS_DISK_CORRUPT_ERROR;
      ancestors.push_back(it->firstCluster);
      folder = it->firstCluster;
    }
    resolved.root = false;
    resolved.entry = *it;
  }
  return nt::STATUS_SUCCESS;
}

}  // namespace platform::fat
