#include "tools/ntfs_edit.h"

#include <cstdlib>
#include <cstring>

// libntfs-3g expects struct timespec to be declared already.
#include <sys/stat.h>

#include <ctime>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace vr::test {

namespace {

std::string Posix(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return "/" + path;
}

ntfs_volume* MountRw(const std::string& image, std::string& error) {
  if (std::getenv("VODURU_DEBUG") == nullptr) {
    ntfs_log_set_handler(ntfs_log_handler_null);
    ntfs_log_clear_levels(~0u);
  }
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
  if (vol == nullptr) error = "ntfs_mount " + image + ": " + std::strerror(errno);
  return vol;
}

bool Unmount(ntfs_volume* vol, bool ok, std::string& error) {
  if (ntfs_umount(vol, FALSE) != 0) {
    error = "ntfs_umount failed";
    return false;
  }
  return ok;
}

}  // namespace

bool NtfsOverwrite(const std::string& image, const std::string& path, int64_t offset,
                   const std::vector<uint8_t>& bytes, std::string& error) {
  ntfs_volume* vol = MountRw(image, error);
  if (vol == nullptr) return false;
  bool ok = false;
  if (ntfs_inode* ni = ntfs_pathname_to_inode(vol, nullptr, Posix(path).c_str())) {
    if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)) {
      const s64 n = static_cast<s64>(bytes.size());
      ok = ntfs_attr_pwrite(na, offset, n, bytes.data()) == n;
      ntfs_attr_close(na);
    }
    ntfs_inode_close(ni);
  }
  if (!ok) error = "cannot write " + path;
  return Unmount(vol, ok, error);
}

bool NtfsDeleteFile(const std::string& image, const std::string& path, std::string& error) {
  ntfs_volume* vol = MountRw(image, error);
  if (vol == nullptr) return false;
  const size_t cut = path.rfind('\\');
  const std::string parent = cut == std::string::npos ? "" : path.substr(0, cut);
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  ntfschar* uname = nullptr;
  const int len = ntfs_mbstoucs(name.c_str(), &uname);
  ntfs_inode* ni = ntfs_pathname_to_inode(vol, nullptr, Posix(path).c_str());
  ntfs_inode* dir = ntfs_pathname_to_inode(vol, nullptr, Posix(parent).c_str());
  bool ok = false;
  if (ni != nullptr && dir != nullptr && len > 0) {
    // ntfs_delete closes both inodes, also when it fails.
    ok = ntfs_delete(vol, Posix(path).c_str(), ni, dir, uname, static_cast<u8>(len)) == 0;
  } else {
    if (ni != nullptr) ntfs_inode_close(ni);
    if (dir != nullptr) ntfs_inode_close(dir);
  }
  std::free(uname);
  if (!ok) error = "cannot delete " + path;
  return Unmount(vol, ok, error);
}

}  // namespace vr::test
