#include "drivers/ntfs/ntfs_driver_fsctl.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <span>
#include <vector>

#include "drivers/ntfs/ntfs_driver_names.h"
#include "platform/ntfs_layout.h"
#include "platform/update_sequence.h"
#include "runtime/bytes.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/volume.h>
}

namespace platform {

namespace {

FsControlResult Answer(nt::NTSTATUS status, uint64_t information = 0) {
  return FsControlResult{status, information, false};
}

vr::Bytes In(const FsControlRequest& r) {
  return {static_cast<const uint8_t*>(r.in), r.in != nullptr ? r.inSize : 0};
}
vr::MutableBytes Out(const FsControlRequest& r) {
  return {static_cast<uint8_t*>(r.out), r.out != nullptr ? r.outSize : 0};
}

// The nearest MFT record in use at or below `record` per the $MFT bitmap,
// or -1. The bitmap is read backwards from the record's byte, first that
// byte alone (the usual case: the record is in use), then in blocks.
int64_t NearestInUse(ntfs_volume* vol, int64_t record, nt::NTSTATUS& status) {
  record = std::min<int64_t>(record, vol->mftbmp_na->data_size * 8 - 1);
  std::vector<uint8_t> block(4096);
  int64_t want = 1;
  while (record >= 0) {
    const int64_t firstByte = std::max<int64_t>(0, record / 8 - want + 1);
    const int64_t count = record / 8 - firstByte + 1;
    if (ntfs_attr_pread(vol->mftbmp_na, firstByte, count, block.data()) != count) {
      status = NtfsErrnoStatus(errno);
      return -1;
    }
    for (; record >= firstByte * 8; --record)
      if (block[static_cast<size_t>(record / 8 - firstByte)] & (1u << (record % 8))) return record;
    want = static_cast<int64_t>(block.size());
  }
  status = nt::STATUS_DISK_CORRUPT_ERROR;  // not even $MFT itself is in use
  return -1;
}

// Puts the saved bytes of the update sequence back at the end of each
// 512-byte block of a FILE record. False when the record is no FILE
// record or a block end does not hold the sequence number (a torn write):
// NT answers such a record as corrupt rather than hand it out.
bool ApplyUpdateSequence(std::vector<uint8_t>& record) {
  const vr::MutableBytes r(record);
  if (vr::GetField(r, vr::kMagic) != vr::kFileMagic) return false;
  return vr::PostReadFixup(r, static_cast<int64_t>(record.size() / 512)) == vr::kUsaIntact;
}

struct Extent {
  int64_t vcn = 0, lcn = 0, length = 0;
};

// The runs of an attribute as NT reports them: neighbouring runs that
// continue each other on the disk (or are both holes) are one extent.
bool ExtentsOf(ntfs_attr* na, std::vector<Extent>& extents) {
  if (ntfs_attr_map_whole_runlist(na) != 0) return false;
  for (const runlist_element* rl = na->rl; rl != nullptr && rl->length != 0; ++rl) {
    if (rl->lcn == LCN_ENOENT) break;
    if (rl->lcn < LCN_HOLE) return false;  // unmapped after mapping: damaged
    const int64_t lcn = rl->lcn == LCN_HOLE ? -1 : rl->lcn;
    if (!extents.empty()) {
      Extent& last = extents.back();
      const bool joins = lcn < 0 ? last.lcn < 0 : last.lcn >= 0 && last.lcn + last.length == lcn;
      if (joins && last.vcn + last.length == rl->vcn) {
        last.length += rl->length;
        continue;
      }
    }
    extents.push_back({rl->vcn, lcn, rl->length});
  }
  return true;
}

}  // namespace

FsControlResult NtfsFileRecord(ntfs_volume* vol, const FsControlRequest& request) {
  const vr::Bytes in = In(request);
  const vr::MutableBytes out = Out(request);
  if (in.size() < 8) return Answer(nt::STATUS_INVALID_PARAMETER);
  const uint32_t recordSize = vol->mft_record_size;
  if (out.size() < 12 + static_cast<uint64_t>(recordSize))
    return Answer(nt::STATUS_BUFFER_TOO_SMALL);
  const int64_t records = vol->mft_na->initialized_size >> vol->mft_record_size_bits;
  const auto asked = static_cast<int64_t>(MREF(vr::U64(in, 0)));
  nt::NTSTATUS status = nt::STATUS_SUCCESS;
  const int64_t record = NearestInUse(vol, std::min<int64_t>(asked, records - 1), status);
  if (record < 0) return Answer(status);
  std::vector<uint8_t> bytes(recordSize);
  const s64 position = record << vol->mft_record_size_bits;
  if (ntfs_attr_pread(vol->mft_na, position, recordSize, bytes.data()) != recordSize)
    return Answer(NtfsErrnoStatus(errno));
  if (!ApplyUpdateSequence(bytes)) return Answer(nt::STATUS_DISK_CORRUPT_ERROR);
  vr::PutU64(out, 0, static_cast<uint64_t>(record));
  vr::PutU32(out, 8, recordSize);
  std::memcpy(out.data() + 12, bytes.data(), recordSize);
  return Answer(nt::STATUS_SUCCESS, 12 + static_cast<uint64_t>(recordSize));
}

FsControlResult NtfsVolumeBitmap(ntfs_volume* vol, const FsControlRequest& request) {
  const vr::Bytes in = In(request);
  const vr::MutableBytes out = Out(request);
  if (in.size() < 8) return Answer(nt::STATUS_INVALID_PARAMETER);
  if (out.size() < 16) return Answer(nt::STATUS_BUFFER_TOO_SMALL);
  const int64_t clusters = vol->nr_clusters;
  int64_t start = vr::I64(in, 0);
  if (start < 0 || start >= clusters) return Answer(nt::STATUS_INVALID_PARAMETER);
  start &= ~int64_t{7};
  const int64_t bits = clusters - start;
  const int64_t total = (bits + 7) / 8;
  const int64_t copied = std::min<int64_t>(total, static_cast<int64_t>(out.size()) - 16);
  if (copied > 0 && ntfs_attr_pread(vol->lcnbmp_na, start / 8, copied, out.data() + 16) != copied)
    return Answer(NtfsErrnoStatus(errno));
  vr::PutU64(out, 0, static_cast<uint64_t>(start));
  vr::PutU64(out, 8, static_cast<uint64_t>(bits));
  return Answer(copied < total ? nt::STATUS_BUFFER_OVERFLOW : nt::STATUS_SUCCESS,
                16 + static_cast<uint64_t>(copied));
}

FsControlResult NtfsRetrievalPointers(ntfs_volume* vol, uint64_t reference, bool folder,
                                      const FsControlRequest& request) {
  const vr::Bytes in = In(request);
  const vr::MutableBytes out = Out(request);
  if (in.size() < 8) return Answer(nt::STATUS_INVALID_PARAMETER);
  if (out.size() < 32) return Answer(nt::STATUS_BUFFER_TOO_SMALL);
  const int64_t startVcn = vr::I64(in, 0);
  if (startVcn < 0) return Answer(nt::STATUS_INVALID_PARAMETER);
  ntfs_inode* ni = ntfs_inode_open(vol, reference);
  if (ni == nullptr) return Answer(nt::STATUS_INVALID_HANDLE);
  // A folder's clusters are those of its $I30 index allocation.
  ntfs_attr* na = folder ? ntfs_attr_open(ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)
                         : ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
  std::vector<Extent> extents;
  nt::NTSTATUS status = nt::STATUS_SUCCESS;
  if (na == nullptr) {
    status = errno == ENOENT ? nt::STATUS_END_OF_FILE : NtfsErrnoStatus(errno);
  } else if (NAttrNonResident(na) && !ExtentsOf(na, extents)) {
    status = nt::STATUS_DISK_CORRUPT_ERROR;
  }
  if (na != nullptr) ntfs_attr_close(na);
  ntfs_inode_close(ni);
  if (status != nt::STATUS_SUCCESS) return Answer(status);
  // The first extent returned is the one holding the starting VCN.
  auto first = std::find_if(extents.begin(), extents.end(),
                            [&](const Extent& e) { return startVcn < e.vcn + e.length; });
  if (first == extents.end()) return Answer(nt::STATUS_END_OF_FILE);
  const size_t room = (out.size() - 16) / 16;
  const size_t left = static_cast<size_t>(extents.end() - first);
  const size_t count = std::min<size_t>(room, left);
  vr::PutU32(out, 0, static_cast<uint32_t>(count));
  vr::PutU32(out, 4, 0);
  vr::PutU64(out, 8, static_cast<uint64_t>(first->vcn));
  for (size_t i = 0; i < count; ++i, ++first) {
    vr::PutU64(out, static_cast<int64_t>(16 + 16 * i),
               static_cast<uint64_t>(first->vcn + first->length));
    vr::PutU64(out, static_cast<int64_t>(24 + 16 * i), static_cast<uint64_t>(first->lcn));
  }
  return Answer(count < left ? nt::STATUS_BUFFER_OVERFLOW : nt::STATUS_SUCCESS, 16 + 16 * count);
}

FsControlResult NtfsVolumeData(const Ntfs3gVolume& mount, const FsControlRequest& request) {
  const vr::MutableBytes out = Out(request);
  if (out.size() < 96) return Answer(nt::STATUS_BUFFER_TOO_SMALL);
  ntfs_volume* vol = mount.Volume();
  // The serial number and the sector count come from the boot sector.
  std::vector<uint8_t> boot(512);
  if (ntfs_pread(vol->dev, 0, 512, boot.data()) != 512) return Answer(NtfsErrnoStatus(errno));
  uint64_t free = 0;
  if (!mount.CountFreeClusters(free)) return Answer(nt::STATUS_DEVICE_DATA_ERROR);
  const vr::Bytes b(boot);
  std::fill(out.begin(), out.begin() + 96, uint8_t{0});
  vr::PutU64(out, 0x00, vr::U64(b, 0x48));  // VolumeSerialNumber
  vr::PutU64(out, 0x08, vr::U64(b, 0x28));  // NumberSectors
  vr::PutU64(out, 0x10, static_cast<uint64_t>(vol->nr_clusters));
  vr::PutU64(out, 0x18, free);
  vr::PutU64(out, 0x20, 0);  // TotalReserved
  vr::PutU32(out, 0x28, vol->sector_size);
  vr::PutU32(out, 0x2C, vol->cluster_size);
  vr::PutU32(out, 0x30, vol->mft_record_size);
  // Records smaller than a cluster: 0 clusters per record, as NT reports.
  vr::PutU32(out, 0x34, vol->mft_record_size / vol->cluster_size);
  vr::PutU64(out, 0x38, static_cast<uint64_t>(vol->mft_na->initialized_size));
  vr::PutU64(out, 0x40, static_cast<uint64_t>(vol->mft_lcn));
  vr::PutU64(out, 0x48, static_cast<uint64_t>(vol->mftmirr_lcn));
  vr::PutU64(out, 0x50, static_cast<uint64_t>(vol->mft_zone_start));
  vr::PutU64(out, 0x58, static_cast<uint64_t>(vol->mft_zone_end));
  return Answer(nt::STATUS_SUCCESS, 96);
}

}  // namespace platform
