// The emulated FAT driver: opening by path, listing folders and reading
// file data through the cluster chains. A damaged volume ends in an error
// status, never in an exception leaving the driver.
#include "drivers/fat/fat_driver.h"

#include <algorithm>
#include <new>

namespace platform::fat {

namespace {

// Run-time errors of the checked accessors mean damaged structures.
template <typename F>
nt::NTSTATUS Guarded(F&& body) {
  try {
    return body();
  } catch (const vr::RunError&) {
    return nt::STATUS_DISK_CORRUPT_ERROR;
  } catch (const std::bad_alloc&) {
    return nt::STATUS_DISK_CORRUPT_ERROR;
  }
}

// Clusters read in one transfer at most.
constexpr uint64_t kMaxTransfer = 1u << 20;

}  // namespace

FatFile::FatFile(std::shared_ptr<FatTree> tree, std::string path, Resolved resolved)
    : tree_(std::move(tree)),
      path_(std::move(path)),
      resolved_(std::move(resolved)),
      generation_(tree_->Generation()) {}

nt::NTSTATUS FatFile::Refresh() const {
  if (generation_ == tree_->Generation()) return nt::STATUS_SUCCESS;
  Resolved again;
  const nt::NTSTATUS status = Guarded([&] { return tree_->Resolve(path_, again); });
  if (status != nt::STATUS_SUCCESS) return status;
  resolved_ = std::move(again);
  generation_ = tree_->Generation();
  chainKnown_ = false;
  return nt::STATUS_SUCCESS;
}

FsEntry FatFile::Entry() const {
  Refresh();  // on failure the entry as it was read stays
  return resolved_.entry.entry;
}

nt::NTSTATUS FatFile::Clusters(const std::vector<uint32_t>*& clusters) {
  clusters = nullptr;
  nt::NTSTATUS status = Refresh();
  if (status != nt::STATUS_SUCCESS) return status;
  if (!chainKnown_) {
    const DirEntry& e = resolved_.entry;
    chain_.clear();
    if (e.firstCluster != 0) {
      status = Guarded([&] { return tree_->Media().Chain(e.firstCluster, chain_); });
      if (status != nt::STATUS_SUCCESS) return status;
    }
    const uint64_t clusterBytes = tree_->Media().ClusterBytes();
    if (chain_.size() * clusterBytes < e.entry.size) return nt::STATUS_DISK_CORRUPT_ERROR;
    chainKnown_ = true;
  }
  clusters = &chain_;
  return nt::STATUS_SUCCESS;
}

nt::NTSTATUS FatFile::Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) {
  transferred = 0;
  nt::NTSTATUS status = Refresh();
  if (status != nt::STATUS_SUCCESS) return status;
  if (resolved_.entry.IsFolder()) return nt::STATUS_INVALID_DEVICE_REQUEST;
  const uint64_t fileSize = resolved_.entry.entry.size;
  if (offset >= fileSize) return nt::STATUS_END_OF_FILE;
  const uint64_t count = std::min<uint64_t>(size, fileSize - offset);
  if (count == 0) return nt::STATUS_SUCCESS;
  const std::vector<uint32_t>* chain = nullptr;
  status = Clusters(chain);
  if (status != nt::STATUS_SUCCESS) return status;

  FatMedia& media = tree_->Media();
  const uint64_t clusterBytes = media.ClusterBytes();
  auto* out = static_cast<uint8_t*>(buffer);
  std::vector<uint8_t> scratch;
  uint64_t done = 0;
  while (done < count) {
    const uint64_t at = offset + done;
    const size_t index = static_cast<size_t>(at / clusterBytes);
    // The run of contiguous clusters from here, as far as the transfer needs.
    const uint64_t within = at % clusterBytes;
    const uint64_t wanted = std::min<uint64_t>(count - done, kMaxTransfer);
    const uint64_t clustersWanted = (within + wanted + clusterBytes - 1) / clusterBytes;
    size_t run = 1;
    while (run < clustersWanted && index + run < chain->size() &&
           (*chain)[index + run] == (*chain)[index] + run)
      ++run;
    scratch.resize(run * clusterBytes);
    status = Guarded([&] {
      return media.ReadClusters((*chain)[index], static_cast<uint32_t>(run), scratch.data());
    });
    if (status != nt::STATUS_SUCCESS) return status;
    const uint64_t take = std::min<uint64_t>(wanted, run * clusterBytes - within);
    std::copy_n(scratch.data() + within, take, out + done);
    done += take;
  }
  transferred = static_cast<uint32_t>(count);
  return nt::STATUS_SUCCESS;
}

std::unique_ptr<FileSystemDriver> FatDriver::Create(const DriverContext& context,
                                                    std::string& error) {
  if (!context.device) {
    error = "No device for the FAT driver";
    return nullptr;
  }
  VolumeFacts facts;
  std::string reason;
  if (IdentifyVolume(*context.device, facts, reason) != IdentifyResult::kOk) {
    error = reason;
    return nullptr;
  }
  if (facts.fileSystem != "FAT") {
    error = "Not a FAT12 or FAT16 volume (" + facts.fileSystem + ")";
    return nullptr;
  }
  return std::make_unique<FatDriver>(context, facts);
}

FatDriver::FatDriver(const DriverContext& context, const VolumeFacts& facts)
    : context_(context), tree_(std::make_shared<FatTree>(context.device, facts)) {}

nt::NTSTATUS FatDriver::Open(const std::string& path, std::unique_ptr<DriverFile>& file) {
  file.reset();
  Resolved resolved;
  const nt::NTSTATUS status = Guarded([&] { return tree_->Resolve(path, resolved); });
  if (status != nt::STATUS_SUCCESS) return status;
  file = std::make_unique<FatFile>(tree_, path, std::move(resolved));
  return nt::STATUS_SUCCESS;
}

nt::NTSTATUS FatDriver::List(const std::string& folder, std::vector<FsEntry>& entries) {
  entries.clear();
  return Guarded([&] {
    Resolved resolved;
    nt::NTSTATUS status = tree_->Resolve(folder, resolved);
    if (status != nt::STATUS_SUCCESS) return status;
    if (!resolved.root && !resolved.entry.IsFolder()) return STATUS_NOT_A_DIRECTORY;
    const std::vector<DirEntry>* found = nullptr;
    status = tree_->Folder(resolved.root ? 0 : resolved.entry.firstCluster, found);
    if (status != nt::STATUS_SUCCESS) return status;
    for (const DirEntry& e : *found) entries.push_back(e.entry);
    return nt::STATUS_SUCCESS;
  });
}

void FatDriver::Invalidate() { tree_->Invalidate(); }

}  // namespace platform::fat
