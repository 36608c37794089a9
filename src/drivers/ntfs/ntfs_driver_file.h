// A file or folder opened through the NTFS driver. It keeps its MFT
// reference, not a libntfs-3g inode, and opens the inode anew for each
// request: the driver may have remounted the volume in between (after the
// program's lock), and a reused record is refused by its sequence number.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/fs_driver.h"
#include "drivers/ntfs/ntfs_driver_mount.h"
#include "drivers/ntfs/ntfs_driver_names.h"

namespace platform {

class NtfsFile : public DriverFile {
 public:
  NtfsFile(std::shared_ptr<NtfsMount> mount, NtfsNode node)
      : mount_(std::move(mount)), node_(std::move(node)) {}
  FsEntry Entry() const override { return node_.entry; }
  // Reads the unnamed $DATA; libntfs-3g expands compressed and sparse data.
  nt::NTSTATUS Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) override;
  uint64_t Reference() const { return node_.reference; }
  bool Folder() const { return node_.folder; }

 private:
  std::shared_ptr<NtfsMount> mount_;
  NtfsNode node_;
};

}  // namespace platform
