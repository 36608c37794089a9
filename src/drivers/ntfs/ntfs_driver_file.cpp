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

nt::NTSTATUS NtfsFile::Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) {
  transferred = 0;
  // Reading a folder handle is not a file read on NT either.
  if (node_.folder) return nt::STATUS_INVALID_DEVICE_REQUEST;
  nt::NTSTATUS status = nt::STATUS_SUCCESS;
  ntfs_volume* vol = mount_->Volume(status);
  if (vol == nullptr) return status;
  ntfs_inode* ni = ntfs_inode_open(vol, node_.reference);
  if (ni == nullptr) return nt::STATUS_INVALID_HANDLE;  // the file is gone
  ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
  if (na == nullptr) {
    // A file without data reads as empty.
    const int error = errno;
    ntfs_inode_close(ni);
    return error == ENOENT ? nt::STATUS_END_OF_FILE : NtfsErrnoStatus(error);
  }
  const auto dataSize = static_cast<uint64_t>(na->data_size);
  if (offset >= dataSize) {
    status = nt::STATUS_END_OF_FILE;
  } else {
    const uint64_t want = std::min<uint64_t>(size, dataSize - offset);
    auto* out = static_cast<uint8_t*>(buffer);
    while (transferred < want) {
      const s64 got = ntfs_attr_pread(na, static_cast<s64>(offset + transferred),
                                      static_cast<s64>(want - transferred), out + transferred);
      if (got <= 0) {
        status = got < 0 ? NtfsErrnoStatus(errno) : nt::STATUS_DISK_CORRUPT_ERROR;
        transferred = 0;
        break;
      }
      transferred += static_cast<uint32_t>(got);
    }
  }
  ntfs_attr_close(na);
  ntfs_inode_close(ni);
  return status;
}

}  // namespace platform
