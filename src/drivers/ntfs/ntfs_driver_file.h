// A file or folder opened through the NTFS driver. It is known by its MFT
// reference; a file being read keeps its libntfs-3g inode and unnamed $DATA
// open between reads, so a file read in chunks opens its record once. The
// mount closes them before it unmounts (after the program's lock or its
// raw writes), and the next read opens the record again by its reference,
// where a reused record is refused by its sequence number.
#pragma once

#include <cstdint>
#include <memory>

#include "drivers/ntfs/ntfs_driver_mount.h"
#include "drivers/ntfs/ntfs_driver_names.h"
#include "platform/fs_driver.h"

struct _ntfs_inode;
struct _ntfs_attr;

namespace platform {

class NtfsFile : public DriverFile, private NtfsMount::Holder {
 public:
  NtfsFile(std::shared_ptr<NtfsMount> mount, NtfsNode node);
  ~NtfsFile() override;
  NtfsFile(const NtfsFile&) = delete;
  NtfsFile& operator=(const NtfsFile&) = delete;

  FsEntry Entry() const override { return node_.entry; }
  // Reads the unnamed $DATA; libntfs-3g expands compressed and sparse data.
  nt::NTSTATUS Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) override;
  uint64_t Reference() const { return node_.reference; }
  bool Folder() const { return node_.folder; }
  // Whether the inode is held open now (for tests of the mount's rules).
  bool HoldsInode() const { return inode_ != nullptr; }

 private:
  void CloseOpen() override;
  std::shared_ptr<NtfsMount> mount_;
  NtfsNode node_;
  _ntfs_inode* inode_ = nullptr;
  _ntfs_attr* data_ = nullptr;
};

}  // namespace platform
