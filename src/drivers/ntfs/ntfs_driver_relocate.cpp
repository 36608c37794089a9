#include "drivers/ntfs/ntfs_driver_relocate.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

#include "drivers/ntfs/ntfs_driver_names.h"
#include "drivers/ntfs/ntfs_ordered_device.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/bitmap.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/volume.h>
}
// libntfs-3g defines these as macros.
#undef min
#undef max

namespace platform {

namespace {

// One run of the unnamed $DATA: `length` clusters from `vcn` at `lcn`.
struct Run {
  int64_t vcn = 0, lcn = 0, length = 0;
};

constexpr int64_t kCopyBytes = 1 << 20;  // the data is copied in pieces of 1 MB
// Released runs whose bitmap bytes lie closer than this share one write.
constexpr int64_t kBitmapGapBytes = 4096;
constexpr int64_t kBitmapStretchBytes = 1 << 20;

// Closes what it holds when the move ends, whichever way. With `discard`
// set (the records were changed in memory and did not all reach the disk)
// the unwritten changes are dropped: after a device error the move writes
// nothing more. Closing normally would retry the write, and an extent left
// dirty under a clean base record would enter libntfs-3g's inode cache,
// which the unmount empties after $MFT is closed, so the write fails again
// and the inodes are never freed.
struct Opened {
  ntfs_inode* ni = nullptr;
  ntfs_attr* na = nullptr;
  bool discard = false;
  ~Opened() {
    if (na != nullptr) ntfs_attr_close(na);
    if (ni == nullptr) return;
    if (!discard) {
      ntfs_inode_close(ni);
      return;
    }
    for (int32_t i = 0; i < ni->nr_extents; ++i) NInoClearDirty(ni->extent_nis[i]);
    NInoClearDirty(ni);
    NInoAttrListClearDirty(ni);
    NInoFileNameClearDirty(ni);
    ntfs_inode_real_close(ni);  // not kept in the cache: its records are not the disk's
  }
};

nt::NTSTATUS DeviceError() { return NtfsErrnoStatus(EIO); }

bool Sync(ntfs_volume* vol) { return vol->dev->d_ops->sync(vol->dev) == 0; }

// The runs of the attribute, holes included (lcn -1); false for a damaged
// run list.
bool ReadRuns(ntfs_attr* na, std::vector<Run>& runs) {
  if (ntfs_attr_map_whole_runlist(na) != 0) return false;
  for (const runlist_element* rl = na->rl; rl != nullptr && rl->length != 0; ++rl) {
    if (rl->lcn < LCN_HOLE) return false;
    runs.push_back({rl->vcn, rl->lcn == LCN_HOLE ? -1 : rl->lcn, rl->length});
  }
  return true;
}

void Append(std::vector<Run>& runs, const Run& run) {
  if (run.length <= 0) return;
  if (!runs.empty()) {
    Run& last = runs.back();
    const bool joins =
        run.lcn < 0 ? last.lcn < 0 : last.lcn >= 0 && last.lcn + last.length == run.lcn;
    if (joins && last.vcn + last.length == run.vcn) {
      last.length += run.length;
      return;
    }
  }
  runs.push_back(run);
}

// The runs with the clusters of [start, end) at `target` onwards.
std::vector<Run> Relocated(const std::vector<Run>& runs, int64_t start, int64_t end,
                           int64_t target) {
  std::vector<Run> out;
  for (const Run& r : runs) {
    const int64_t a = r.vcn, b = r.vcn + r.length;
    const auto at = [&](int64_t vcn) { return r.lcn < 0 ? -1 : r.lcn + (vcn - a); };
    Append(out, {a, r.lcn, std::min(b, start) - a});
    const int64_t s = std::max(a, start), e = std::min(b, end);
    Append(out, {s, target + (s - start), e - s});
    const int64_t t = std::max(a, end);
    Append(out, {t, at(t), b - t});
  }
  return out;
}

// The old clusters of [start, end), in VCN order.
std::vector<Run> PiecesOf(const std::vector<Run>& runs, int64_t start, int64_t end) {
  std::vector<Run> pieces;
  for (const Run& r : runs) {
    const int64_t s = std::max(r.vcn, start), e = std::min(r.vcn + r.length, end);
    if (e > s) pieces.push_back({s, r.lcn < 0 ? -1 : r.lcn + (s - r.vcn), e - s});
  }
  return pieces;
}

// libntfs-3g's run list of [low, high] of `runs`, with its terminator.
std::vector<runlist_element> Slice(const std::vector<Run>& runs, int64_t low, int64_t high) {
  std::vector<runlist_element> rl;
  for (const Run& r : runs) {
    const int64_t s = std::max(r.vcn, low), e = std::min(r.vcn + r.length, high + 1);
    if (e <= s) continue;
    runlist_element el{};
    el.vcn = s;
    el.lcn = r.lcn < 0 ? static_cast<LCN>(LCN_HOLE) : r.lcn + (s - r.vcn);
    el.length = e - s;
    rl.push_back(el);
  }
  runlist_element end{};
  end.vcn = high + 1;
  end.lcn = LCN_ENOENT;
  end.length = 0;
  rl.push_back(end);
  return rl;
}

// Whether the `count` clusters from `target` are free in the cluster bitmap
// and not waiting for release.
nt::NTSTATUS CheckTarget(ntfs_volume* vol, int64_t target, int64_t count, NtfsMoveRules& rules) {
  if (target < 0 || count <= 0 || target > vol->nr_clusters - count)
    return nt::STATUS_INVALID_PARAMETER;
  const int64_t first = target / 8;
  const int64_t bytes = (target + count + 7) / 8 - first;
  std::vector<uint8_t> bits(static_cast<size_t>(bytes));
  if (ntfs_attr_pread(vol->lcnbmp_na, first, bytes, bits.data()) != bytes) return DeviceError();
  return rules.CheckTarget(target, count, vol->nr_clusters, [&](int64_t c) {
    return (bits[static_cast<size_t>(c / 8 - first)] >> (c % 8)) & 1;
  });
}

// Gives every extent of the unnamed $DATA that holds part of [start, end)
// its mapping pairs from `runs`, keeping its VCN range. With `write`
// false only checks that each fits its record.
nt::NTSTATUS RewriteExtents(ntfs_volume* vol, ntfs_inode* ni, const std::vector<Run>& runs,
                            int64_t start, int64_t end, bool write) {
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
  if (ctx == nullptr) return NtfsErrnoStatus(errno);
  nt::NTSTATUS status = nt::STATUS_SUCCESS;
  while (status == nt::STATUS_SUCCESS &&
         ntfs_attr_lookup(AT_DATA, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
    ATTR_RECORD* a = ctx->attr;
    MFT_RECORD* m = ctx->mrec;
    if (!a->non_resident) {
      status = nt::STATUS_DISK_CORRUPT_ERROR;
      break;
    }
    const int64_t low = sle64_to_cpu(a->lowest_vcn), high = sle64_to_cpu(a->highest_vcn);
    if (high < start || low >= end) continue;
    const std::vector<runlist_element> rl = Slice(runs, low, high);
    const int size = ntfs_get_size_for_mapping_pairs(vol, rl.data(), low, INT_MAX);
    if (size <= 0) {
      status = nt::STATUS_DISK_CORRUPT_ERROR;
      break;
    }
    const uint32_t offset = le16_to_cpu(a->mapping_pairs_offset);
    const uint32_t length = (offset + static_cast<uint32_t>(size) + 7) & ~7u;
    const uint32_t room =
        le32_to_cpu(m->bytes_allocated) - le32_to_cpu(m->bytes_in_use) + le32_to_cpu(a->length);
    if (length > room) {
      status = STATUS_DISK_FULL;
      break;
    }
    if (!write) continue;
    const runlist_element* stop = nullptr;
    if (ntfs_attr_record_resize(m, a, length) != 0) {
      status = nt::STATUS_DISK_CORRUPT_ERROR;
      break;
    }
    auto* pairs = reinterpret_cast<uint8_t*>(a) + offset;
    std::memset(pairs, 0, length - offset);
    if (ntfs_mapping_pairs_build(vol, pairs, static_cast<int>(length - offset), rl.data(), low,
                                 &stop) != 0) {
      status = nt::STATUS_DISK_CORRUPT_ERROR;
      break;
    }
    ntfs_inode_mark_dirty(ctx->ntfs_ino);
  }
  if (status == nt::STATUS_SUCCESS && errno != ENOENT) status = NtfsErrnoStatus(errno);
  ntfs_attr_put_search_ctx(ctx);
  return status;
}

// Copies the old clusters of the range to the target in pieces of 1 MB:
// each piece gathered from the old runs, written in one transfer, read back
// and compared. Not flushed here: the device flushes the copy together with
// the target's bits before it writes any record that points at the target.
// The buffers are as large as the move needs and left unfilled (every byte
// written is read first): most files are far smaller than a piece, and
// clearing 2 MB per move cost more than the copy.
bool CopyData(ntfs_volume* vol, const std::vector<Run>& pieces, int64_t start, int64_t target,
              int64_t count) {
  const int64_t cluster = vol->cluster_size;
  const int64_t step = std::min(count, std::max<int64_t>(1, kCopyBytes / cluster));
  const auto bufferBytes = static_cast<size_t>(step * cluster);
  const std::unique_ptr<uint8_t[]> data(new uint8_t[bufferBytes]), check(new uint8_t[bufferBytes]);
  for (int64_t done = 0; done < count; done += step) {
    const int64_t n = std::min(step, count - done);
    const int64_t from = start + done, to = from + n;
    int64_t gathered = 0;
    for (const Run& p : pieces) {
      const int64_t s = std::max(p.vcn, from), e = std::min(p.vcn + p.length, to);
      if (e <= s) continue;
      const int64_t bytes = (e - s) * cluster;
      if (ntfs_pread(vol->dev, (p.lcn + (s - p.vcn)) * cluster, bytes,
                     data.get() + (s - from) * cluster) != bytes)
        return false;
      gathered += e - s;
    }
    // Never written unless every cluster of the piece was read into it.
    if (gathered != n) return false;
    const int64_t bytes = n * cluster;
    if (ntfs_pwrite(vol->dev, (target + done) * cluster, bytes, data.get()) != bytes) return false;
    if (ntfs_pread(vol->dev, (target + done) * cluster, bytes, check.get()) != bytes ||
        std::memcmp(data.get(), check.get(), static_cast<size_t>(bytes)) != 0)
      return false;
  }
  return true;
}

}  // namespace

nt::NTSTATUS NtfsRelocate(ntfs_volume* vol, NtfsOrderedDevice& device, uint64_t reference,
                          const NtfsMoveRequest& move, NtfsMoveRules& rules,
                          NtfsRelocation& result) {
  result = {};
  if (MREF(reference) < FILE_first_user) return nt::STATUS_ACCESS_DENIED;
  Opened open;
  open.ni = ntfs_inode_open(vol, reference);
  if (open.ni == nullptr) return nt::STATUS_INVALID_HANDLE;
  open.na = ntfs_attr_open(open.ni, AT_DATA, AT_UNNAMED, 0);
  if (open.na == nullptr)
    return errno == ENOENT ? nt::STATUS_INVALID_PARAMETER : NtfsErrnoStatus(errno);
  ntfs_attr* na = open.na;
  // Compressed, sparse and encrypted data keeps its clusters where they are.
  if ((na->data_flags & (ATTR_COMPRESSION_MASK | ATTR_IS_SPARSE | ATTR_IS_ENCRYPTED)) ||
      NAttrCompressed(na) || NAttrSparse(na) || NAttrEncrypted(na))
    return nt::STATUS_ALREADY_COMMITTED;
  // Data in the record has no clusters: every range lies outside them.
  if (!NAttrNonResident(na)) return nt::STATUS_INVALID_PARAMETER;
  std::vector<Run> runs;
  if (!ReadRuns(na, runs)) return nt::STATUS_DISK_CORRUPT_ERROR;
  const int64_t clusters = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
  const int64_t start = move.startVcn, count = move.clusters;
  if (count <= 0 || start >= clusters || count > clusters - start)
    return nt::STATUS_INVALID_PARAMETER;
  const int64_t end = start + count;
  const std::vector<Run> pieces = PiecesOf(runs, start, end);
  // A hole is data the file does not have on the disk, as in a sparse file.
  if (std::any_of(runs.begin(), runs.end(), [](const Run& r) { return r.lcn < 0; }))
    return nt::STATUS_ALREADY_COMMITTED;
  nt::NTSTATUS status = CheckTarget(vol, move.targetLcn, count, rules);
  if (status != nt::STATUS_SUCCESS) return status;
  const std::vector<Run> moved = Relocated(runs, start, end, move.targetLcn);
  status = RewriteExtents(vol, open.ni, moved, start, end, false);
  if (status != nt::STATUS_SUCCESS) return status;
  // The attribute is closed before its records change under it.
  ntfs_attr_close(open.na);
  open.na = nullptr;

  if (!CopyData(vol, pieces, start, move.targetLcn, count)) return DeviceError();
  if (ntfs_bitmap_set_run(vol->lcnbmp_na, move.targetLcn, count) != 0) {
    // Nothing points at the target yet: its bits go back to free.
    ntfs_bitmap_clear_run(vol->lcnbmp_na, move.targetLcn, count);
    return DeviceError();
  }
  if (vol->free_clusters >= count) vol->free_clusters -= count;
  // The records are held back until the device's next flush, which makes
  // the copy and the bits durable before it writes them. A failure half way
  // drops this move's held records: the extents must change all together.
  result.recordsTouched = open.discard = true;
  const size_t keep = device.Held();
  device.Hold(true);
  status = RewriteExtents(vol, open.ni, moved, start, end, true);
  if (status == nt::STATUS_SUCCESS && ntfs_inode_sync(open.ni) != 0) status = DeviceError();
  device.Hold(false);
  if (status != nt::STATUS_SUCCESS) {
    device.DropHeld(keep);
    return status;
  }
  result.recordsTouched = open.discard = false;
  for (const Run& p : pieces) {
    if (!result.released.empty()) {
      NtfsMoveRules::Run& last = result.released.back();
      if (last.lcn + last.count == p.lcn) {
        last.count += p.length;
        continue;
      }
    }
    result.released.push_back({p.lcn, p.length});
  }
  return nt::STATUS_SUCCESS;
}

bool NtfsFreeClusters(ntfs_volume* vol, std::vector<NtfsMoveRules::Run> runs, bool recordsFlushed) {
  using Run = NtfsMoveRules::Run;
  // The records that no longer point at these clusters reach the disk first.
  if (!recordsFlushed && !Sync(vol)) return false;
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.lcn < b.lcn; });
  const auto lastByte = [](const Run& r) { return (r.lcn + r.count - 1) / 8; };
  bool ok = true;
  for (size_t i = 0; i < runs.size();) {
    const int64_t first = runs[i].lcn / 8;
    int64_t last = lastByte(runs[i]);
    size_t j = i + 1;
    for (; j < runs.size() && runs[j].lcn / 8 <= last + kBitmapGapBytes &&
           lastByte(runs[j]) - first < kBitmapStretchBytes;
         ++j)
      last = std::max(last, lastByte(runs[j]));
    const int64_t size = last - first + 1;
    std::vector<uint8_t> bits(static_cast<size_t>(size));
    if (ntfs_attr_pread(vol->lcnbmp_na, first, size, bits.data()) != size) {
      ok = false;
      i = j;
      continue;
    }
    int64_t freed = 0;
    for (; i < j; ++i)
      for (int64_t c = runs[i].lcn; c < runs[i].lcn + runs[i].count; ++c) {
        uint8_t& byte = bits[static_cast<size_t>(c / 8 - first)];
        const auto bit = static_cast<uint8_t>(1u << (c % 8));
        if (byte & bit) ++freed;
        byte = static_cast<uint8_t>(byte & ~bit);
      }
    if (ntfs_attr_pwrite(vol->lcnbmp_na, first, size, bits.data()) != size)
      ok = false;
    else if (vol->free_clusters >= 0)  // -1: libntfs-3g has not counted them
      vol->free_clusters += freed;
  }
  return ok;
}

}  // namespace platform
