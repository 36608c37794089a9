#include "drivers/ntfs/ntfs_driver_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/volume.h>
}

namespace platform {

NtfsFile::NtfsFile(std::shared_ptr<NtfsMount> mount, NtfsNode node)
    : mount_(std::move(mount)), node_(std::move(node)) {
  mount_->Attach(this);
}

NtfsFile::~NtfsFile() {
  CloseOpen();
  mount_->Detach(this);
}

void NtfsFile::CloseOpen() {
  if (data_ != nullptr) ntfs_attr_close(data_);
  if (inode_ != nullptr) ntfs_inode_close(inode_);
  data_ = nullptr;
  inode_ = nullptr;
}

nt::NTSTATUS NtfsFile::Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) {
  transferred = 0;
  // Reading a folder handle is not a file read on NT either.
  if (node_.folder) return nt::STATUS_INVALID_DEVICE_REQUEST;
  nt::NTSTATUS status = nt::STATUS_SUCCESS;
  // A remount closes what this file held (through CloseOpen).
  ntfs_volume* vol = mount_->Volume(status);
  if (vol == nullptr) return status;
  if (inode_ == nullptr) {
    ntfs_inode* ni = ntfs_inode_open(vol, node_.reference);
    if (ni == nullptr) return nt::STATUS_INVALID_HANDLE;  // the file is gone
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na == nullptr) {
      // A file without data reads as empty.
      const int error = errno;
      ntfs_inode_close(ni);
      return error == ENOENT ? nt::STATUS_END_OF_FILE : NtfsErrnoStatus(error);
    }
    inode_ = ni;
    data_ = na;
  }
  const auto dataSize = static_cast<uint64_t>(data_->data_size);
  if (offset >= dataSize) return nt::STATUS_END_OF_FILE;
  const uint64_t want = std::min<uint64_t>(size, dataSize - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  while (transferred < want) {
    const s64 got = ntfs_attr_pread(data_, static_cast<s64>(offset + transferred),
                                    static_cast<s64>(want - transferred), out + transferred);
    if (got <= 0) {
      status = got < 0 ? NtfsErrnoStatus(errno) : nt::STATUS_DISK_CORRUPT_ERROR;
      transferred = 0;
      // The next read starts again from the record.
      CloseOpen();
      break;
    }
    transferred += static_cast<uint32_t>(got);
  }
  return status;
}

}  // namespace platform
