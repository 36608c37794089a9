// Paths and directory entries of the NTFS driver: names are matched as NT
// matches them (case-insensitive through the volume's $UpCase table), and
// entries carry NT's attributes, the size of the unnamed $DATA and the
// FILETIME dates of $STANDARD_INFORMATION.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs_driver.h"

struct _ntfs_volume;
struct _ntfs_inode;

namespace platform {

// A file or folder found by path.
struct NtfsNode {
  uint64_t reference = 0;  // MFT reference (record number and sequence number)
  bool folder = false;
  FsEntry entry;
};

// Finds `path` ("\"-separated, "" the root). STATUS_OBJECT_PATH_NOT_FOUND
// when a folder on the way is missing or is a file,
// STATUS_OBJECT_NAME_NOT_FOUND when the last name is missing.
nt::NTSTATUS NtfsLookup(_ntfs_volume* vol, const std::string& path, NtfsNode& node);

// The entries of the folder `path`, in index order, without "." and "..",
// without DOS-only names and without the system files (records below 16),
// which NT does not list either.
nt::NTSTATUS NtfsList(_ntfs_volume* vol, const std::string& path, std::vector<FsEntry>& entries);

// The entry of an open inode under `name`.
FsEntry NtfsDescribe(_ntfs_inode* ni, const std::string& name);

// The status for a failed libntfs-3g call, from errno.
nt::NTSTATUS NtfsErrnoStatus(int error);

}  // namespace platform
