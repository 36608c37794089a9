#include "support/ntfs_workload.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace testsupport {

namespace {

std::string PosixPath(const std::string& path) {
  std::string p = "/" + path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

// One read-write libntfs-3g mount of an image; the first failure is kept.
class Session {
 public:
  explicit Session(const std::string& image) {
    if (std::getenv("VODURU_DEBUG") == nullptr) {
      ntfs_log_set_handler(ntfs_log_handler_null);
      ntfs_log_clear_levels(~0u);
    }
    vol_ = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
    if (vol_ == nullptr) Fail("mount " + image);
  }
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  ntfs_volume* vol() const { return vol_; }
  void Fail(const std::string& what) {
    if (error_.empty()) error_ = what + ": " + std::strerror(errno);
  }
  void Close() {
    if (vol_ != nullptr && ntfs_umount(vol_, FALSE) != 0) Fail("unmount");
    vol_ = nullptr;
  }

  // The folder at `path` ("" for the root); null after recording why.
  ntfs_inode* Open(const std::string& path) {
    ntfs_inode* ni =
        ok() ? ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str()) : nullptr;
    if (ok() && ni == nullptr) Fail("open " + path);
    return ni;
  }

  // Creates `name` in the open folder `dir`; the caller closes the inode
  // with CloseIn (through its parent, which holds the changed index).
  ntfs_inode* Create(ntfs_inode* dir, const std::string& name, bool folder) {
    if (!ok() || dir == nullptr) return nullptr;
    ntfschar* u = nullptr;
    const int len = ntfs_mbstoucs(name.c_str(), &u);
    ntfs_inode* ni = len > 0 ? ntfs_create(dir, const_cpu_to_le32(0), u, static_cast<u8>(len),
                                           folder ? S_IFDIR : S_IFREG)
                             : nullptr;
    if (ni == nullptr) Fail("create " + name);
    std::free(u);
    return ni;
  }
  void CloseIn(ntfs_inode* ni, ntfs_inode* dir, const std::string& name) {
    if (ni != nullptr && ntfs_inode_close_in_dir(ni, dir) != 0) Fail("close " + name);
  }
  void CloseFolder(ntfs_inode* dir) {
    if (dir != nullptr && ntfs_inode_close(dir) != 0) Fail("close a folder");
  }

  void Delete(const std::string& parent, const std::string& name) {
    if (!ok()) return;
    const std::string path = parent + "\\" + name;
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
    ntfs_inode* dir = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(parent).c_str());
    ntfschar* u = nullptr;
    const int len = ntfs_mbstoucs(name.c_str(), &u);
    // ntfs_delete closes both inodes, also when it fails.
    if (ni == nullptr || dir == nullptr || len <= 0 ||
        ntfs_delete(vol_, PosixPath(path).c_str(), ni, dir, u, static_cast<u8>(len)) != 0)
      Fail("delete " + path);
    std::free(u);
  }

 private:
  ntfs_volume* vol_ = nullptr;
  std::string error_;
};

std::string Name(int i) { return "piece file " + std::to_string(10000 + i).substr(1) + ".bin"; }

}  // namespace

bool AddFragmentedFiles(const std::string& image, const FragmentedSet& set, std::string& error) {
  Session s(image);
  const auto place = [&] {
    if (set.fillFromStart && s.vol() != nullptr) AllocateFromStart(s.vol());
  };
  place();
  ntfs_inode* root = s.Open("");
  s.CloseIn(s.Create(root, set.folder, true), root, set.folder);
  s.CloseFolder(root);
  ntfs_inode* folder = s.Open(set.folder);
  std::vector<ntfs_inode*> inodes;
  std::vector<ntfs_attr*> data;
  for (int i = 0; i < set.files && s.ok(); ++i) {
    place();
    ntfs_inode* ni = s.Create(folder, Name(i), false);
    if (ni == nullptr) break;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na == nullptr) s.Fail("open data of " + Name(i));
    inodes.push_back(ni);
    data.push_back(na);
  }
  const int64_t piece =
      static_cast<int64_t>(set.chunkClusters) * (s.vol() != nullptr ? s.vol()->cluster_size : 0);
  // One piece of every file in turn: each extension of a file finds the
  // clusters after its last piece taken by the next file's.
  for (int c = 0; c < set.chunks && s.ok(); ++c)
    for (size_t i = 0; i < data.size() && s.ok(); ++i) {
      if (data[i] == nullptr) continue;
      const std::vector<uint8_t> bytes =
          PatternBytes(static_cast<uint32_t>(piece), set.seed + static_cast<uint32_t>(i) * 64 + c);
      place();
      if (ntfs_attr_pwrite(data[i], c * piece, piece, bytes.data()) != piece)
        s.Fail("write " + Name(static_cast<int>(i)));
    }
  for (size_t i = 0; i < inodes.size(); ++i) {
    if (data[i] != nullptr) ntfs_attr_close(data[i]);
    s.CloseIn(inodes[i], folder, Name(static_cast<int>(i)));
  }
  s.CloseFolder(folder);
  for (int i = 0; set.removeEvery > 0 && i < set.files && s.ok(); i += set.removeEvery)
    s.Delete(set.folder, Name(i));
  s.Close();
  error = s.error();
  return s.ok();
}

namespace {

// Creates the file `path` (its folder exists) and hands its unnamed $DATA
// to `write`; then closes everything.
bool WithNewFile(const std::string& image, const std::string& path,
                 const std::function<void(Session&, ntfs_attr*)>& write, std::string& error) {
  Session s(image);
  const size_t cut = path.rfind('\\');
  const std::string parent = cut == std::string::npos ? "" : path.substr(0, cut);
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  ntfs_inode* dir = s.Open(parent);
  ntfs_inode* ni = s.Create(dir, name, false);
  ntfs_attr* na = ni != nullptr ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
  if (ni != nullptr && na == nullptr) s.Fail("open data of " + path);
  if (na != nullptr) {
    write(s, na);
    ntfs_attr_close(na);
  }
  s.CloseIn(ni, dir, path);
  s.CloseFolder(dir);
  s.Close();
  error = s.error();
  return s.ok();
}

}  // namespace

bool FillFreeSpace(const std::string& image, const std::string& path, int64_t leaveFree,
                   std::string& error) {
  return WithNewFile(
      image, path,
      [leaveFree](Session& s, ntfs_attr* na) {
        if (ntfs_volume_get_free_space(s.vol()) != 0) s.Fail("free space");
        if (!s.ok()) return;
        const int64_t cluster = s.vol()->cluster_size;
        int64_t left = std::max<int64_t>(0, s.vol()->free_clusters - leaveFree) * cluster;
        const std::vector<uint8_t> bytes = PatternBytes(1 << 20, 0x5eed);
        // libntfs-3g keeps some of what it counts free for its own records: the
        // filling ends where it refuses more, a cluster at a time at the end.
        int64_t step = static_cast<int64_t>(bytes.size());
        for (int64_t at = 0; left > 0 && s.ok();) {
          const int64_t n = std::min<int64_t>(left, step);
          const int64_t w = ntfs_attr_pwrite(na, at, n, bytes.data());
          if (w > 0) {
            at += w;
            left -= w;
          }
          if (w == n) continue;
          if (step == cluster) break;
          step = cluster;
        }
      },
      error);
}

bool WriteWholeFile(const std::string& image, const std::string& path, uint32_t size, uint32_t seed,
                    std::string& error) {
  return WithNewFile(
      image, path,
      [&](Session& s, ntfs_attr* na) {
        const std::vector<uint8_t> bytes = PatternBytes(size, seed);
        if (ntfs_attr_pwrite(na, 0, size, bytes.data()) != static_cast<s64>(size))
          s.Fail("write " + path);
      },
      error);
}

bool DeleteOneFile(const std::string& image, const std::string& path, std::string& error) {
  Session s(image);
  const size_t cut = path.rfind('\\');
  s.Delete(cut == std::string::npos ? "" : path.substr(0, cut),
           cut == std::string::npos ? path : path.substr(cut + 1));
  s.Close();
  error = s.error();
  return s.ok();
}

}  // namespace testsupport
