#include "support/ntfs_audit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

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

struct DirEntry {
  std::string name;
  int64_t record;
  bool folder;
};

int CollectEntry(void* context, const ntfschar* name, const int len, const int type, const s64,
                 const MFT_REF mref, const unsigned dtype) {
  if (type == FILE_NAME_DOS) return 0;
  char* text = nullptr;
  if (ntfs_ucstombs(name, len, &text, 0) < 0) return -1;
  std::string s(text);
  std::free(text);
  if (s == "." || s == "..") return 0;
  static_cast<std::vector<DirEntry>*>(context)->push_back(
      {s, static_cast<int64_t>(MREF(mref)), dtype == NTFS_DT_DIR});
  return 0;
}

uint64_t Fnv(uint64_t h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

class Auditor {
 public:
  Auditor(ntfs_volume* vol, VolumeAudit& audit) : vol_(vol), audit_(audit) {}
  const std::string& error() const { return error_; }

  void Folder(ntfs_inode* dir, const std::string& prefix, int depth) {
    std::vector<DirEntry> entries;
    s64 pos = 0;
    if (ntfs_readdir(dir, &pos, &entries, CollectEntry) != 0) {
      Fail("list " + (prefix.empty() ? std::string("\\") : prefix));
      return;
    }
    for (const DirEntry& e : entries) {
      // The system files and $Extend below the first user record.
      if (e.record < FILE_first_user) continue;
      const std::string path = prefix.empty() ? e.name : prefix + "\\" + e.name;
      ntfs_inode* ni = ntfs_inode_open(vol_, static_cast<MFT_REF>(e.record));
      if (ni == nullptr) {
        Fail("open " + path);
        continue;
      }
      if (e.folder) {
        AuditedStream s;
        s.record = e.record;
        s.folder = true;
        audit_.streams[path] = s;
        if (depth < 64) Folder(ni, path, depth + 1);
      } else {
        File(ni, path);
      }
      ntfs_inode_close(ni);
      if (!error_.empty()) return;
    }
  }

 private:
  void Fail(const std::string& what) {
    if (error_.empty()) error_ = what + ": " + std::strerror(errno);
  }

  void File(ntfs_inode* ni, const std::string& path) {
    // The names of the $DATA attributes, from their first extents.
    std::vector<std::vector<ntfschar>> names;
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
    if (ctx == nullptr) return Fail("search " + path);
    while (ntfs_attr_lookup(AT_DATA, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
      const ATTR_RECORD* a = ctx->attr;
      if (a->non_resident && sle64_to_cpu(a->lowest_vcn) != 0) continue;
      const auto* n = reinterpret_cast<const ntfschar*>(reinterpret_cast<const uint8_t*>(a) +
                                                        le16_to_cpu(a->name_offset));
      names.emplace_back(n, n + a->name_length);
    }
    ntfs_attr_put_search_ctx(ctx);
    for (const std::vector<ntfschar>& name : names) {
      std::string key = path;
      if (!name.empty()) {
        char* text = nullptr;
        if (ntfs_ucstombs(name.data(), static_cast<int>(name.size()), &text, 0) < 0)
          return Fail("name a stream of " + path);
        key += ":" + std::string(text);
        std::free(text);
      }
      // ntfs_attr_open keeps the name pointer it is given.
      ntfschar* owned = nullptr;
      if (!name.empty()) {
        owned = static_cast<ntfschar*>(std::malloc(name.size() * sizeof(ntfschar)));
        std::copy(name.begin(), name.end(), owned);
      }
      ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, name.empty() ? AT_UNNAMED : owned,
                                     static_cast<u32>(name.size()));
      if (na == nullptr) {
        std::free(owned);
        return Fail("open data of " + key);
      }
      AuditedStream s;
      s.record = static_cast<int64_t>(ni->mft_no);
      s.size = static_cast<uint64_t>(na->data_size);
      s.compressed = (na->data_flags & ATTR_IS_COMPRESSED) != 0;
      s.sparse = (na->data_flags & ATTR_IS_SPARSE) != 0;
      s.encrypted = (na->data_flags & ATTR_IS_ENCRYPTED) != 0;
      s.dataStreams = static_cast<int>(names.size());
      if (NAttrNonResident(na)) {
        if (ntfs_attr_map_whole_runlist(na) != 0) {
          ntfs_attr_close(na);
          std::free(owned);
          return Fail("map " + key);
        }
        for (runlist_element* rl = na->rl; rl->length != 0; ++rl)
          s.runs.push_back({rl->vcn, rl->lcn < 0 ? -1 : rl->lcn, rl->length});
      }
      s.hash = 0xcbf29ce484222325ull;
      std::vector<uint8_t> buffer(1 << 20);
      for (s64 at = 0; at < na->data_size;) {
        const s64 want = std::min<s64>(static_cast<s64>(buffer.size()), na->data_size - at);
        const s64 got = ntfs_attr_pread(na, at, want, buffer.data());
        if (got <= 0) {
          ntfs_attr_close(na);
          std::free(owned);
          return Fail("read " + key);
        }
        s.hash = Fnv(s.hash, buffer.data(), static_cast<size_t>(got));
        at += got;
      }
      ntfs_attr_close(na);
      std::free(owned);
      audit_.streams[key] = std::move(s);
    }
  }

  ntfs_volume* vol_;
  VolumeAudit& audit_;
  std::string error_;
};

}  // namespace

bool AuditNtfsVolume(const std::string& image, VolumeAudit& audit, std::string& error) {
  audit = VolumeAudit();
  if (std::getenv("VODURU_DEBUG") == nullptr) {
    ntfs_log_set_handler(ntfs_log_handler_null);
    ntfs_log_clear_levels(~0u);
  }
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (vol == nullptr) {
    error = "libntfs-3g does not mount " + image + ": " + std::strerror(errno);
    return false;
  }
  audit.clusterSize = vol->cluster_size;
  audit.totalClusters = vol->nr_clusters;
  audit.mftZoneStart = vol->mft_zone_start;
  audit.mftZoneEnd = vol->mft_zone_end;
  audit.bitmap.resize(static_cast<size_t>((vol->nr_clusters + 7) / 8));
  bool ok = ntfs_attr_pread(vol->lcnbmp_na, 0, static_cast<s64>(audit.bitmap.size()),
                            audit.bitmap.data()) == static_cast<s64>(audit.bitmap.size());
  if (!ok) error = "cannot read $Bitmap";
  Auditor auditor(vol, audit);
  if (ok) {
    ntfs_inode* root = ntfs_inode_open(vol, FILE_root);
    if (root == nullptr) {
      error = "cannot open the root folder";
      ok = false;
    } else {
      auditor.Folder(root, "", 0);
      ntfs_inode_close(root);
      if (!auditor.error().empty()) {
        error = auditor.error();
        ok = false;
      }
    }
  }
  ntfs_umount(vol, FALSE);
  return ok;
}

std::vector<std::string> ContentChanges(const VolumeAudit& before, const VolumeAudit& after) {
  std::vector<std::string> changes;
  for (const auto& [path, s] : before.streams) {
    const auto it = after.streams.find(path);
    if (it == after.streams.end())
      changes.push_back("missing: " + path);
    else if (it->second.size != s.size || it->second.hash != s.hash ||
             it->second.folder != s.folder)
      changes.push_back("changed: " + path);
  }
  for (const auto& [path, s] : after.streams)
    if (before.streams.count(path) == 0) changes.push_back("new: " + path);
  return changes;
}

bool Contiguous(const std::vector<LibntfsRun>& runs) {
  int64_t next = -1;
  for (const LibntfsRun& r : runs) {
    if (r.lcn < 0) continue;
    if (next >= 0 && r.lcn != next) return false;
    next = r.lcn + r.length;
  }
  return true;
}

int64_t AllocatedClusters(const std::vector<LibntfsRun>& runs) {
  int64_t n = 0;
  for (const LibntfsRun& r : runs)
    if (r.lcn >= 0) n += r.length;
  return n;
}

std::map<int64_t, const AuditedStream*> FilesByRecord(const VolumeAudit& audit) {
  std::map<int64_t, const AuditedStream*> files;
  for (const auto& [path, s] : audit.streams)
    if (!s.folder && path.find(':') == std::string::npos) files[s.record] = &s;
  return files;
}

int RecordsWithChangedRuns(const VolumeAudit& before, const VolumeAudit& after) {
  const auto a = FilesByRecord(before), b = FilesByRecord(after);
  int changed = 0;
  for (const auto& [record, s] : a) {
    const auto it = b.find(record);
    if (it == b.end()) continue;
    const std::vector<LibntfsRun>& x = s->runs;
    const std::vector<LibntfsRun>& y = it->second->runs;
    const bool same = x.size() == y.size() &&
                      std::equal(x.begin(), x.end(), y.begin(), [](const auto& p, const auto& q) {
                        return p.vcn == q.vcn && p.lcn == q.lcn && p.length == q.length;
                      });
    changed += same ? 0 : 1;
  }
  return changed;
}

bool ClusterUsed(const VolumeAudit& audit, int64_t lcn) {
  return (audit.bitmap[static_cast<size_t>(lcn / 8)] >> (lcn % 8)) & 1;
}

FreeSpace FreeOutsideMftZone(const VolumeAudit& audit) {
  FreeSpace f;
  int64_t run = 0;
  const auto close = [&](int64_t end) {
    if (run == 0) return;
    ++f.extents;
    if (run > f.largest) {
      f.largest = run;
      f.largestStart = end - run;
    }
    run = 0;
  };
  for (int64_t c = 0; c < audit.totalClusters; ++c) {
    const bool inZone = c >= audit.mftZoneStart && c < audit.mftZoneEnd;
    if (inZone || ClusterUsed(audit, c)) {
      close(c);
      continue;
    }
    ++f.free;
    ++run;
  }
  close(audit.totalClusters);
  return f;
}

std::string OtherToolsVerdict(const std::string& image, std::vector<std::string>& names) {
  names.clear();
  std::string verdict, out;
  const std::string quoted = ShellQuote(image);
  if (RunCommand("ntfsfix -n " + quoted, out) != 0) verdict += "ntfsfix -n: " + out + "\n";
  if (RunCommand("fsstat -f ntfs " + quoted, out) != 0) verdict += "fsstat: " + out + "\n";
  if (RunCommand("fls -r -f ntfs " + quoted + " 2>&1", out) != 0) {
    verdict += "fls -r: " + out + "\n";
    return verdict;
  }
  // "+ r/r 64-128-2:\tname": the depth marks, the type and the name; deleted
  // entries ("r/r * 70-128-2:") are left out.
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find(" * ") != std::string::npos) continue;
    size_t depth = 0;
    while (line.compare(depth, 2, "+ ") == 0) depth += 2;
    names.push_back(line.substr(0, depth) + line.substr(depth, 3) + " " + line.substr(tab + 1));
  }
  std::sort(names.begin(), names.end());
  return verdict;
}

}  // namespace testsupport
