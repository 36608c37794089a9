// The operating system's FAT12/FAT16 driver, emulated: files by path,
// folder listings and the file-system control requests of a FAT volume
// that other programs hold open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drivers/fat/fat_tree.h"
#include "platform/fs_driver.h"

namespace platform::fat {

// A file or folder opened through the FAT driver. It keeps its path, so
// that after the volume changed (the program wrote it under its lock) it
// finds its entry and clusters afresh.
class FatFile : public DriverFile {
 public:
  FatFile(std::shared_ptr<FatTree> tree, std::string path, Resolved resolved);
  FsEntry Entry() const override;
  nt::NTSTATUS Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) override;

  bool IsRoot() const { return resolved_.root; }
  // The file's clusters in chain order (empty for a file without clusters).
  // A chain too short for the file's size is STATUS_DISK_CORRUPT_ERROR.
  nt::NTSTATUS Clusters(const std::vector<uint32_t>*& clusters);

 private:
  // Finds the entry again when the volume changed since it was read.
  nt::NTSTATUS Refresh() const;

  std::shared_ptr<FatTree> tree_;
  std::string path_;
  mutable Resolved resolved_;
  mutable uint64_t generation_;
  mutable bool chainKnown_ = false;
  std::vector<uint32_t> chain_;
};

class FatDriver : public FileSystemDriver {
 public:
  // The driver for a volume identified as "FAT"; null with an explanation
  // for any other volume.
  static std::unique_ptr<FileSystemDriver> Create(const DriverContext& context, std::string& error);
  FatDriver(const DriverContext& context, const VolumeFacts& facts);

  nt::NTSTATUS Open(const std::string& path, std::unique_ptr<DriverFile>& file) override;
  nt::NTSTATUS List(const std::string& folder, std::vector<FsEntry>& entries) override;
  // FSCTL_GET_VOLUME_BITMAP and FSCTL_GET_RETRIEVAL_POINTERS, reporting
  // LCNs as NT does on FAT (cluster number - 2). FSCTL_MOVE_FILE is not
  // served yet; it and every other request answer
  // STATUS_INVALID_DEVICE_REQUEST.
  FsControlResult FsControl(const FsControlRequest& request) override;
  void Invalidate() override;

 private:
  FsControlResult VolumeBitmap(const FsControlRequest& request);
  FsControlResult RetrievalPointers(const FsControlRequest& request);

  DriverContext context_;
  std::shared_ptr<FatTree> tree_;
};

}  // namespace platform::fat
