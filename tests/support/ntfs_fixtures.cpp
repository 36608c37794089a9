#include "support/ntfs_fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "support/fat_fixtures.h"
#include "support/volume_images.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace testsupport {

namespace {

void AddFileFlags(ntfs_inode* ni, FILE_ATTR_FLAGS flags) {
  ni->flags = static_cast<FILE_ATTR_FLAGS>(ni->flags | flags);
  NInoSetDirty(ni);
  NInoFileNameSetDirty(ni);
}

// A name in libntfs-3g's little-endian UTF-16, freed on scope exit.
struct Ucs {
  ntfschar* s = nullptr;
  int len = 0;
  explicit Ucs(const std::string& text) { len = ntfs_mbstoucs(text.c_str(), &s); }
  ~Ucs() { std::free(s); }
  Ucs(const Ucs&) = delete;
  Ucs& operator=(const Ucs&) = delete;
  bool ok() const { return len > 0; }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "docs\a.txt" -> "/docs/a.txt".
std::string PosixPath(const std::string& path) {
  std::string p = "/" + path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

void SplitPath(const std::string& path, std::string& parent, std::string& name) {
  const size_t cut = path.rfind('\\');
  parent = cut == std::string::npos ? "" : path.substr(0, cut);
  name = cut == std::string::npos ? path : path.substr(cut + 1);
}

void QuietLibntfs() {
  if (std::getenv("VODURU_DEBUG") == nullptr) {
    ntfs_log_set_handler(ntfs_log_handler_null);
    ntfs_log_clear_levels(~0u);
  }
}

// A libntfs-3g mount of an image file, unmounted on scope exit.
class Mount {
 public:
  Mount(const std::string& image, bool readOnly) {
    QuietLibntfs();
    vol_ = ntfs_mount(image.c_str(), readOnly ? NTFS_MNT_RDONLY : NTFS_MNT_NONE);
    if (vol_ == nullptr) error_ = "ntfs_mount " + image + ": " + std::strerror(errno);
  }
  ~Mount() {
    if (vol_ != nullptr) ntfs_umount(vol_, FALSE);
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  // Unmounts now; false when libntfs-3g could not write back.
  bool Close() {
    const int rc = vol_ != nullptr ? ntfs_umount(vol_, FALSE) : 0;
    vol_ = nullptr;
    return rc == 0;
  }
  ntfs_volume* vol() const { return vol_; }
  const std::string& error() const { return error_; }
  ntfs_inode* Open(const std::string& path) const {
    return ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
  }
  // The inode of `path`, or null with `error` saying why (no volume, no
  // such path).
  ntfs_inode* OpenOrExplain(const std::string& path, std::string& error) const {
    if (vol_ == nullptr) {
      error = error_;
      return nullptr;
    }
    ntfs_inode* ni = Open(path);
    if (ni == nullptr) error = "cannot open " + path;
    return ni;
  }

 private:
  ntfs_volume* vol_ = nullptr;
  std::string error_;
};

std::vector<uint8_t> PieceBytes(const NtfsPiece& piece, uint32_t period) {
  if (period == 0 || period >= piece.length) return PatternBytes(piece.length, piece.seed);
  const std::vector<uint8_t> unit = PatternBytes(period, piece.seed);
  std::vector<uint8_t> bytes(piece.length);
  for (uint32_t i = 0; i < piece.length; ++i) bytes[i] = unit[i % period];
  return bytes;
}

// Compressible content repeats a short pattern; the period is carried by
// the seed's top bit pattern so that pieces stay self-describing.
constexpr uint32_t kRepeatSeedBase = 0x40000000u;
constexpr uint32_t kRepeatPeriod = 100;
uint32_t PeriodOf(uint32_t seed) { return seed >= kRepeatSeedBase ? kRepeatPeriod : 0; }

// Fills the volume; the first failure wins `error`.
class Builder {
 public:
  Builder(ntfs_volume* vol, std::vector<NtfsFixtureEntry>& entries, bool fromStart)
      : vol_(vol), entries_(entries), fromStart_(fromStart) {}

  const std::string& error() const { return error_; }
  bool ok() const { return error_.empty(); }

  void Fail(const std::string& what) {
    if (error_.empty()) error_ = what + ": " + std::strerror(errno);
  }

  // A new file or folder; the caller closes it.
  ntfs_inode* Create(const std::string& path, bool folder) {
    if (!ok()) return nullptr;
    std::string parent, name;
    SplitPath(path, parent, name);
    ntfs_inode* dir = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(parent).c_str());
    if (dir == nullptr) {
      Fail("open folder " + parent);
      return nullptr;
    }
    Ucs u(name);
    Place();  // the new entry may need a new index block
    ntfs_inode* ni = u.ok() ? ntfs_create(dir, const_cpu_to_le32(0), u.s, static_cast<u8>(u.len),
                                          folder ? S_IFDIR : S_IFREG)
                            : nullptr;
    if (ni == nullptr) Fail("create " + path);
    ntfs_inode_close(dir);
    return ni;
  }

  void Close(ntfs_inode* ni, const std::string& path) {
    if (ni != nullptr && ntfs_inode_close(ni) != 0) Fail("close " + path);
  }

  void Folder(const std::string& path, uint32_t flags = 0) {
    Close(Create(path, true), path);
    NtfsFixtureEntry e;
    e.path = path;
    e.flags = kNtfsFolder | flags;
    entries_.push_back(e);
  }

  // Writes in steps of `step` bytes; each step past the end allocates anew.
  bool Write(ntfs_attr* na, uint64_t offset, const std::vector<uint8_t>& bytes,
             const std::string& path, size_t step = 1 << 20) {
    size_t done = 0;
    while (done < bytes.size()) {
      const size_t n = std::min<size_t>(bytes.size() - done, step);
      Place();
      const s64 w = ntfs_attr_pwrite(na, static_cast<s64>(offset + done), static_cast<s64>(n),
                                     bytes.data() + done);
      if (w <= 0) {
        Fail("write " + path);
        return false;
      }
      done += static_cast<size_t>(w);
    }
    return true;
  }

  // Writes the pieces into `na` and sets its size.
  bool WritePieces(ntfs_attr* na, const NtfsFixtureEntry& e, size_t step = 1 << 20) {
    for (const NtfsPiece& p : e.pieces)
      if (!Write(na, p.offset, PieceBytes(p, PeriodOf(p.seed)), e.path, step)) return false;
    if (static_cast<uint64_t>(na->data_size) < e.size &&
        ntfs_attr_truncate(na, static_cast<s64>(e.size)) != 0) {
      Fail("extend " + e.path);
      return false;
    }
    return true;
  }

  // A file of `size` pattern bytes from `seed`, written in one go.
  void File(const std::string& path, uint64_t size, uint32_t seed, uint32_t flags = 0) {
    NtfsFixtureEntry e;
    e.path = path;
    e.flags = flags;
    e.size = size;
    if (size > 0) e.pieces.push_back({0, static_cast<uint32_t>(size), seed});
    FileOf(e);
  }

  void FileOf(NtfsFixtureEntry e) {
    ntfs_inode* ni = Create(e.path, false);
    if (ni == nullptr) return;
    if (e.flags & kNtfsCompressed) {
      // Compression is a property of the (still empty) data attribute.
      if (ntfs_attr_set_flags(ni, AT_DATA, AT_UNNAMED, 0, ATTR_IS_COMPRESSED,
                              ATTR_COMPRESSION_MASK) != 0)
        Fail("compress " + e.path);
      AddFileFlags(ni, FILE_ATTR_COMPRESSED);
    }
    if (e.flags & kNtfsSparse) {
      if (ntfs_attr_set_flags(ni, AT_DATA, AT_UNNAMED, 0, ATTR_IS_SPARSE, ATTR_IS_SPARSE) != 0)
        Fail("make sparse " + e.path);
      AddFileFlags(ni, FILE_ATTR_SPARSE_FILE);
    }
    if (e.flags & (kNtfsHidden | kNtfsSystem)) {
      if (e.flags & kNtfsHidden) AddFileFlags(ni, FILE_ATTR_HIDDEN);
      if (e.flags & kNtfsSystem) AddFileFlags(ni, FILE_ATTR_SYSTEM);
    }
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na == nullptr) {
      Fail("open data of " + e.path);
    } else {
      WritePieces(na, e);
      if ((e.flags & kNtfsCompressed) && ntfs_attr_pclose(na) != 0) Fail("finish " + e.path);
      ntfs_attr_close(na);
    }
    Close(ni, e.path);
    entries_.push_back(std::move(e));
  }

  // Zero clusters written to `path` (created when missing), for ballast.
  void Fill(const std::string& path, int64_t clusters) {
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
    if (ni == nullptr) ni = Create(path, false);
    if (ni == nullptr) return;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na == nullptr) {
      Fail("open data of " + path);
    } else {
      const std::vector<uint8_t> zeros(1 << 20, 0);
      int64_t bytes = clusters * vol_->cluster_size;
      for (int64_t pos = 0; bytes > 0 && ok();) {
        const int64_t n = std::min<int64_t>(bytes, static_cast<int64_t>(zeros.size()));
        Place();
        if (ntfs_attr_pwrite(na, pos, n, zeros.data()) != n) Fail("fill " + path);
        pos += n;
        bytes -= n;
      }
      ntfs_attr_close(na);
    }
    Close(ni, path);
  }

  // Takes every free cluster left, one at a time, into `path`. libntfs-3g's
  // allocator marks a zone full after one fruitless pass even when a few
  // clusters remain there; the marks are cleared and the write retried.
  void Sweep(const std::string& path) {
    ntfs_inode* ni = Create(path, false);
    ntfs_attr* na = ni != nullptr ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
    if (na == nullptr) {
      Fail("open data of " + path);
    } else {
      const std::vector<uint8_t> zeros(vol_->cluster_size, 0);
      int misses = 0;
      for (s64 pos = 0; ok() && FreeClusters() > 0 && misses < 3;) {
        Place();
        if (ntfs_attr_pwrite(na, pos, vol_->cluster_size, zeros.data()) == vol_->cluster_size) {
          pos += vol_->cluster_size;
          misses = 0;
        } else {
          vol_->full_zones = 0;
          ++misses;
        }
      }
      ntfs_attr_close(na);
    }
    Close(ni, path);
  }

  int64_t FreeClusters() {
    if (ntfs_volume_get_free_space(vol_) != 0) Fail("free space");
    return vol_->free_clusters;
  }

  // Writes `files` into the gaps of otherwise full free space, so each gets
  // one run per gap. Spacer files and the files themselves are created
  // first (no record or index block is needed later); a ballast file fills
  // the free space except for room for 2 x `gaps` spacers; a sweeper takes
  // what is left. Every other spacer is then emptied (deleting it would
  // free index blocks as well), the files are written a cluster at a time
  // (libntfs-3g's allocator takes one gap per call), and the helpers are
  // deleted again.
  void IntoGaps(const std::vector<NtfsFixtureEntry>& files, uint32_t gaps) {
    const std::string spacers = "frag\\spacers";
    Close(Create(spacers, true), spacers);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < 2 * gaps && ok(); ++i) {
      names.push_back(spacers + "\\s" + std::to_string(i));
      Close(Create(names.back(), false), names.back());
    }
    for (const NtfsFixtureEntry& e : files) Close(Create(e.path, false), e.path);
    // A spacer's data must leave the record: at least 1 KB.
    const int64_t spacer = (1024 + vol_->cluster_size - 1) / vol_->cluster_size;
    const int64_t room = static_cast<int64_t>(2 * gaps) * spacer + 64;
    const int64_t free = FreeClusters();
    if (ok() && free <= room) {
      errno = ENOSPC;
      Fail("volume too small for the gaps (" + std::to_string(room) + " free clusters needed)");
    }
    if (ok()) Fill("frag\\ballast.tmp", free - room);
    for (const std::string& n : names)
      if (ok()) Fill(n, spacer);
    Sweep("frag\\sweeper.tmp");
    // Every other spacer in disk order: libntfs-3g places new files apart,
    // so the order of creation says nothing about neighbours.
    std::vector<std::pair<int64_t, std::string>> placed;
    for (const std::string& n : names) placed.emplace_back(FirstLcn(n), n);
    std::sort(placed.begin(), placed.end());
    for (size_t i = 0; i < placed.size() && ok(); i += 2) Empty(placed[i].second);
    for (const NtfsFixtureEntry& e : files) {
      ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(e.path).c_str());
      ntfs_attr* na = ni != nullptr ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
      if (na == nullptr) {
        Fail("open data of " + e.path);
      } else {
        WritePieces(na, e, vol_->cluster_size);
        ntfs_attr_close(na);
      }
      if (ni != nullptr) Close(ni, e.path);
      entries_.push_back(e);
    }
    DeleteFile("frag\\ballast.tmp");
    DeleteFile("frag\\sweeper.tmp");
    for (size_t i = 0; i < names.size() && ok(); ++i) DeleteFile(names[i]);
    DeleteFile(spacers);
  }

  // The first cluster of the data of `path`; -1 when it has none.
  int64_t FirstLcn(const std::string& path) {
    int64_t lcn = -1;
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
    ntfs_attr* na = ni != nullptr ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
    if (na != nullptr && NAttrNonResident(na) && ntfs_attr_map_whole_runlist(na) == 0)
      lcn = na->rl[0].lcn;
    if (na != nullptr) ntfs_attr_close(na);
    if (ni != nullptr) Close(ni, path);
    return lcn;
  }

  // Truncates the data of `path` to nothing, freeing its clusters.
  void Empty(const std::string& path) {
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
    ntfs_attr* na = ni != nullptr ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
    if (na == nullptr || ntfs_attr_truncate(na, 0) != 0) Fail("empty " + path);
    if (na != nullptr) ntfs_attr_close(na);
    if (ni != nullptr) Close(ni, path);
  }

  void Link(const std::string& existing, const std::string& path) {
    if (!ok()) return;
    std::string parent, name;
    SplitPath(path, parent, name);
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(existing).c_str());
    ntfs_inode* dir = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(parent).c_str());
    Ucs u(name);
    if (ni == nullptr || dir == nullptr || !u.ok() ||
        ntfs_link(ni, dir, u.s, static_cast<u8>(u.len)) != 0)
      Fail("link " + path);
    if (ni != nullptr) Close(ni, existing);
    if (dir != nullptr) Close(dir, parent);
    NtfsFixtureEntry e;
    e.path = path;
    e.flags = kNtfsHardLink;
    e.linkOf = existing;
    if (const NtfsFixtureEntry* target = FindEntry(existing)) {
      e.size = target->size;
      e.pieces = target->pieces;
    }
    entries_.push_back(e);
  }

  void Stream(const std::string& path, const std::string& stream, uint64_t size, uint32_t seed) {
    if (!ok()) return;
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
    // ntfs_attr_open keeps the name it is given, so it must be freeable.
    ntfschar* name = nullptr;
    const int len = ntfs_mbstoucs(stream.c_str(), &name);
    NtfsFixtureEntry e;
    e.path = path;
    e.stream = stream;
    e.flags = kNtfsNamedStream;
    e.size = size;
    e.pieces.push_back({0, static_cast<uint32_t>(size), seed});
    if (ni == nullptr || len <= 0 ||
        ntfs_attr_add(ni, AT_DATA, name, static_cast<u8>(len), nullptr, 0) != 0) {
      Fail("add stream " + path + ":" + stream);
    } else if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, name, static_cast<u32>(len))) {
      WritePieces(na, e);
      ntfs_attr_close(na);
    } else {
      Fail("open stream " + path + ":" + stream);
    }
    std::free(name);
    if (ni != nullptr) Close(ni, path);
    entries_.push_back(e);
  }

  void DeleteFile(const std::string& path) {
    if (!ok()) return;
    std::string parent, name;
    SplitPath(path, parent, name);
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(path).c_str());
    ntfs_inode* dir = ntfs_pathname_to_inode(vol_, nullptr, PosixPath(parent).c_str());
    Ucs u(name);
    // ntfs_delete closes both inodes, also when it fails.
    if (ni == nullptr || dir == nullptr || !u.ok() ||
        ntfs_delete(vol_, PosixPath(path).c_str(), ni, dir, u.s, static_cast<u8>(u.len)) != 0) {
      Fail("delete " + path);
      return;
    }
  }

  uint32_t ClusterSize() const { return vol_->cluster_size; }

  // Before anything that may allocate clusters.
  void Place() {
    if (fromStart_) AllocateFromStart(vol_);
  }

  const NtfsFixtureEntry* FindEntry(const std::string& path) const {
    for (const NtfsFixtureEntry& e : entries_)
      if (e.path == path && e.stream.empty()) return &e;
    return nullptr;
  }

 private:
  ntfs_volume* vol_;
  std::vector<NtfsFixtureEntry>& entries_;
  bool fromStart_;
  std::string error_;
};

char Digit(int n) { return static_cast<char>('0' + n); }

std::string Number(uint32_t n, int width) {
  std::string s(static_cast<size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i, n /= 10) s[static_cast<size_t>(i)] = Digit(n % 10);
  return s;
}

void Populate(Builder& b, bool compression, const NtfsFixtureOptions& options) {
  b.File("readme.txt", 1234, 1);
  b.File("empty.dat", 0, 2);
  b.File("small.txt", 100, 3);
  b.File("pagefile.sys", 1 << 20, 4, kNtfsHidden | kNtfsSystem);

  b.Folder("docs");
  b.Folder("docs\\2024");
  b.Folder("docs\\2024\\reports");
  b.File("docs\\report.doc", 50000, 10);
  b.File("docs\\2024\\summary.txt", 3000, 11);
  b.File("docs\\2024\\reports\\q1.txt", 20000, 12);
  b.File("docs\\2024\\reports\\Q2 Figures.txt", 70000, 13);

  b.Folder("special");
  b.File("special\\hidden.dat", 5000, 20, kNtfsHidden);
  b.File("special\\Mixed Case Name.TXT", 777, 21);

  // Enough long names that the folder's index needs index blocks.
  b.Folder("many", kNtfsLargeIndex);
  for (uint32_t i = 0; i < 600 && b.ok(); ++i)
    b.File("many\\a rather long file name for the index test number " + Number(i, 4) + ".txt",
           (i % 7) * 50, 1000 + i);

  // Files written into the single-cluster gaps of otherwise full free
  // space: one run per cluster; 800 runs overflow the base record.
  b.Folder("frag");
  {
    std::vector<NtfsFixtureEntry> files;
    const uint32_t cluster = static_cast<uint32_t>(b.ClusterSize());
    const std::pair<const char*, uint32_t> kFiles[] = {
        {"frag\\alpha.bin", 40}, {"frag\\beta.bin", 40}, {"frag\\many.bin", 800}};
    uint32_t seed = 3000;
    for (const auto& [path, clusters] : kFiles) {
      NtfsFixtureEntry e;
      e.path = path;
      e.flags = kNtfsFragmented | (clusters > 100 ? kNtfsAttributeList : 0u);
      e.size = static_cast<uint64_t>(clusters) * cluster - 100;  // the last cluster not full
      e.pieces.push_back({0, static_cast<uint32_t>(e.size), seed++});
      files.push_back(e);
    }
    b.IntoGaps(files, 1000);
  }

  b.Folder("links");
  b.File("links\\original.txt", 4000, 30);
  b.Link("links\\original.txt", "links\\second name.txt");
  b.Link("links\\original.txt", "docs\\link to original.txt");
  // So many names that the $FILE_NAME attributes leave the base record.
  b.File("links\\crowd.txt", 2500, 31, kNtfsAttributeList);
  for (uint32_t i = 1; i <= 30 && b.ok(); ++i)
    b.Link("links\\crowd.txt",
           "links\\crowd link " + Number(i, 2) + " with a longer name than usual.txt");

  b.Folder("streams");
  b.File("streams\\with stream.txt", 2000, 40);
  b.Stream("streams\\with stream.txt", "extra", 10000, 41);
  b.Stream("streams\\with stream.txt", "note", 50, 42);

  b.Folder("sparse");
  {
    NtfsFixtureEntry e;
    e.path = "sparse\\sparse.bin";
    e.flags = kNtfsSparse;
    e.pieces = {{0, 8192, 50}, {8u << 20, 8192, 51}, {12u << 20, 4096, 52}};
    e.size = (16u << 20);
    b.FileOf(e);
  }

  if (compression) {
    b.Folder("compressed");
    NtfsFixtureEntry e;
    e.path = "compressed\\packed.txt";
    e.flags = kNtfsCompressed;
    e.size = 300000;
    e.pieces = {{0, 300000, kRepeatSeedBase + 60}};
    b.FileOf(e);
    b.File("compressed\\random.bin", 70000, 61, kNtfsCompressed);
  }

  if (options.viewerRecords) {
    b.Folder("viewer");
    b.File("viewer\\big.bin", 1536 * 1024, 70);
    // Enough names to leave the base record, few enough that the
    // attribute list stays resident.
    b.File("viewer\\few names.txt", 300, 71, kNtfsAttributeList);
    for (uint32_t i = 1; i <= 6 && b.ok(); ++i)
      b.Link("viewer\\few names.txt",
             "viewer\\another name " + Number(i, 2) + " for the file with a few names.txt");
  }

  if (options.large) {
    b.Folder("large");
    const uint32_t perFolder = std::max<uint32_t>(options.largeFilesPerFolder, 1);
    for (uint32_t d = 0; d * perFolder < options.largeFiles && b.ok(); ++d) {
      const std::string folder = "large\\d" + Number(d, 3);
      b.Folder(folder);
      for (uint32_t i = 0; i < perFolder && d * perFolder + i < options.largeFiles && b.ok(); ++i)
        b.File(folder + "\\file " + Number(d * perFolder + i, 6) + ".txt",
               (i % 5) * options.largeFileStep, 200000 + d * perFolder + i);
    }
  }
}

// Checks what the entries claim against what libntfs-3g finds on the volume.
bool Verify(const std::string& image, const std::vector<NtfsFixtureEntry>& entries,
            std::string& error) {
  Mount m(image, true);
  if (m.vol() == nullptr) {
    error = m.error();
    return false;
  }
  for (const NtfsFixtureEntry& e : entries) {
    if (e.flags & (kNtfsFolder | kNtfsNamedStream | kNtfsHardLink)) continue;
    if (!(e.flags & (kNtfsFragmented | kNtfsAttributeList | kNtfsSparse | kNtfsCompressed)))
      continue;
    ntfs_inode* ni = m.Open(e.path);
    if (ni == nullptr) {
      error = "verify: cannot open " + e.path;
      return false;
    }
    std::string problem;
    if ((e.flags & kNtfsAttributeList) && !NInoAttrList(ni)) problem = "has no attribute list";
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na == nullptr) {
      problem = "has no data";
    } else {
      if ((e.flags & kNtfsSparse) && !(na->data_flags & ATTR_IS_SPARSE)) problem = "is not sparse";
      if ((e.flags & kNtfsCompressed) && !(na->data_flags & ATTR_IS_COMPRESSED))
        problem = "is not compressed";
      if ((e.flags & kNtfsFragmented) && problem.empty()) {
        int runs = 0;
        if (NAttrNonResident(na) && ntfs_attr_map_whole_runlist(na) == 0)
          for (runlist_element* rl = na->rl; rl->length != 0; ++rl) runs += rl->lcn >= 0;
        if (runs < 2) problem = "is not fragmented";
      }
      ntfs_attr_close(na);
    }
    ntfs_inode_close(ni);
    if (!problem.empty()) {
      error = "verify: " + e.path + " " + problem;
      return false;
    }
  }
  return true;
}

std::string FlagWords(uint32_t flags) {
  static const std::pair<uint32_t, const char*> kWords[] = {
      {kNtfsFolder, "folder"},      {kNtfsFragmented, "frag"},       {kNtfsAttributeList, "alist"},
      {kNtfsSparse, "sparse"},      {kNtfsCompressed, "compressed"}, {kNtfsHardLink, "link"},
      {kNtfsNamedStream, "stream"}, {kNtfsHidden, "hidden"},         {kNtfsSystem, "system"},
      {kNtfsLargeIndex, "bigindex"}};
  std::string s;
  for (const auto& [bit, word] : kWords)
    if (flags & bit) s += (s.empty() ? "" : ",") + std::string(word);
  return s.empty() ? "-" : s;
}

}  // namespace

std::vector<uint8_t> ExpectedContent(const NtfsFixtureEntry& entry) {
  std::vector<uint8_t> bytes(static_cast<size_t>(entry.size), 0);
  for (const NtfsPiece& p : entry.pieces) {
    const std::vector<uint8_t> piece = PieceBytes(p, PeriodOf(p.seed));
    std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(p.offset));
  }
  return bytes;
}

const NtfsFixtureEntry* NtfsFixture::Find(const std::string& path) const {
  const std::string lower = Lower(path);
  for (const NtfsFixtureEntry& e : entries_)
    if (e.stream.empty() && Lower(e.path) == lower) return &e;
  return nullptr;
}

std::string NtfsFixture::Manifest() const {
  std::string text;
  char line[64];
  for (const NtfsFixtureEntry& e : entries_) {
    std::snprintf(line, sizeof line, "%-22s %10llu ", FlagWords(e.flags).c_str(),
                  static_cast<unsigned long long>(e.size));
    text += line + e.path;
    if (!e.stream.empty()) text += ":" + e.stream;
    if (!e.linkOf.empty()) text += " = " + e.linkOf;
    text += "\n";
  }
  return text;
}

bool NtfsFixture::HasCompressed() const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const NtfsFixtureEntry& e) { return e.flags & kNtfsCompressed; });
}

bool BuildNtfsFixture(const std::string& path, const NtfsFixtureOptions& options,
                      NtfsFixture& fixture, std::string& error) {
  fixture = NtfsFixture();
  fixture.path_ = path;
  fixture.options_ = options;
  const auto start = std::chrono::steady_clock::now();
  if (!MakeNtfsImage(path, options.sizeMb, options.clusterSize, options.label, error)) return false;
  Mount m(path, false);
  if (m.vol() == nullptr) {
    error = m.error();
    return false;
  }
  // libntfs-3g compresses with clusters of up to 4096 bytes only.
  const bool compression = m.vol()->cluster_size <= 4096;
  Builder b(m.vol(), fixture.entries_, options.fillFromStart);
  Populate(b, compression, options);
  if (!m.Close() && b.ok()) {
    error = "ntfs_umount " + path + " failed";
    return false;
  }
  if (!b.ok()) {
    error = b.error();
    return false;
  }
  fixture.seconds_ =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return Verify(path, fixture.entries_, error);
}

void AllocateFromStart(void* volume) {
  auto* vol = static_cast<ntfs_volume*>(volume);
  vol->data1_zone_pos = vol->mft_zone_end;
}

const NtfsFixture& SharedNtfsFixture() {
  static NtfsFixture fixture;
  static std::string error;
  static const bool built =
      BuildNtfsFixture(TempPath("ntfs-fixture.img"), NtfsFixtureOptions{}, fixture, error);
  EXPECT_TRUE(built) << error;
  return fixture;
}

bool LibntfsRecordNumber(const std::string& image, const std::string& path, int64_t& record,
                         std::string& error) {
  Mount m(image, true);
  ntfs_inode* ni = m.OpenOrExplain(path, error);
  if (ni == nullptr) return false;
  record = static_cast<int64_t>(ni->mft_no);
  ntfs_inode_close(ni);
  return true;
}

bool LibntfsRead(const std::string& image, const std::string& path, std::vector<uint8_t>& data,
                 std::string& error, const std::string& stream) {
  data.clear();
  Mount m(image, true);
  ntfs_inode* ni = m.OpenOrExplain(path, error);
  if (ni == nullptr) return false;
  ntfschar* name = nullptr;
  int len = 0;
  if (!stream.empty()) len = ntfs_mbstoucs(stream.c_str(), &name);
  ntfs_attr* na = stream.empty() ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)
                                 : ntfs_attr_open(ni, AT_DATA, name, static_cast<u32>(len));
  bool ok = na != nullptr;
  if (ok) {
    data.resize(static_cast<size_t>(na->data_size));
    ok = data.empty() || ntfs_attr_pread(na, 0, na->data_size, data.data()) == na->data_size;
    ntfs_attr_close(na);
  }
  std::free(name);
  ntfs_inode_close(ni);
  if (!ok) error = "cannot read " + path;
  return ok;
}

namespace {
// The runs of the attribute `type` named `name` of `path`; a missing
// attribute is an error unless `optional`.
bool AttributeRuns(const std::string& image, const std::string& path, ATTR_TYPES type,
                   ntfschar* name, u32 nameLength, bool optional, std::vector<LibntfsRun>& runs,
                   std::string& error) {
  runs.clear();
  Mount m(image, true);
  ntfs_inode* ni = m.OpenOrExplain(path, error);
  if (ni == nullptr) return false;
  ntfs_attr* na = ntfs_attr_open(ni, type, name, nameLength);
  if (na == nullptr && optional && errno == ENOENT) {
    ntfs_inode_close(ni);
    return true;
  }
  bool ok = na != nullptr;
  if (ok && NAttrNonResident(na)) {
    ok = ntfs_attr_map_whole_runlist(na) == 0;
    for (runlist_element* rl = na->rl; ok && rl->length != 0; ++rl)
      runs.push_back({rl->vcn, rl->lcn < 0 ? -1 : rl->lcn, rl->length});
  }
  if (na != nullptr) ntfs_attr_close(na);
  ntfs_inode_close(ni);
  if (!ok) error = "cannot map " + path;
  return ok;
}
}  // namespace

bool LibntfsRunlist(const std::string& image, const std::string& path,
                    std::vector<LibntfsRun>& runs, std::string& error) {
  return AttributeRuns(image, path, AT_DATA, AT_UNNAMED, 0, false, runs, error);
}

bool LibntfsIndexRunlist(const std::string& image, const std::string& folder,
                         std::vector<LibntfsRun>& runs, std::string& error) {
  return AttributeRuns(image, folder, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4, true, runs, error);
}

namespace {
int CollectName(void* context, const ntfschar* name, const int len, const int type, const s64,
                const MFT_REF mref, const unsigned) {
  if (type == FILE_NAME_DOS || MREF(mref) < FILE_first_user) return 0;
  char* text = nullptr;
  if (ntfs_ucstombs(name, len, &text, 0) < 0) return -1;
  const std::string s(text);
  std::free(text);
  if (s != "." && s != "..") static_cast<std::vector<std::string>*>(context)->push_back(s);
  return 0;
}
}  // namespace

bool LibntfsList(const std::string& image, const std::string& folder,
                 std::vector<std::string>& names, std::string& error) {
  names.clear();
  Mount m(image, true);
  ntfs_inode* ni = m.OpenOrExplain(folder, error);
  if (ni == nullptr) return false;
  s64 pos = 0;
  const bool ok = ntfs_readdir(ni, &pos, &names, CollectName) == 0;
  ntfs_inode_close(ni);
  if (!ok) error = "cannot list " + folder;
  return ok;
}

}  // namespace testsupport
