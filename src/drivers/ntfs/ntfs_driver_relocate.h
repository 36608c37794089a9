// The NTFS driver's file move: a VCN range of a file's unnamed $DATA is
// copied to free clusters and the file's run list made to point there,
// through libntfs-3g, in an order that keeps the volume whole wherever the
// process stops:
//   1. every FILE record the change touches is checked to hold its new
//      mapping pairs (nothing is written before that);
//   2. the data is copied to the target and read back;
//   3. the target's bits are set in the cluster bitmap;
//   4. each FILE record holding an extent of the range gets its new mapping
//      pairs (libntfs-3g applies the update sequence). The device holds
//      these writes back (NtfsOrderedDevice): its next flush first makes the
//      copy and the bits durable, then writes the records, so a stop before
//      leaves at most clusters marked in use that nothing points at. The
//      records are flushed before the old clusters are freed
//      (NtfsFreeClusters).
// Each extent keeps its VCN range, so every record is whole on its own: a
// stop between two record writes leaves some extents on the old clusters
// and some on the new, which hold the same bytes. The old clusters are not
// released here; the caller releases them after its flush delay.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/ntfs/ntfs_driver_move.h"

struct _ntfs_volume;

namespace platform {

class NtfsOrderedDevice;

struct NtfsRelocation {
  // The clusters the range held before a successful move.
  std::vector<NtfsMoveRules::Run> released;
  // A FILE record may have been changed in libntfs-3g's memory or on the
  // disk before the failure: the mount should not be trusted any further.
  bool recordsTouched = false;
};

// Moves `move` (the handle already resolved to the file `reference`) on the
// writable volume `vol`, whose libntfs-3g device is `device`. Answers:
//   STATUS_SUCCESS              moved; `result.released` lists the old clusters
//   STATUS_ALREADY_COMMITTED    a target cluster is in use or still waiting to
//                               be released; the file is compressed, sparse or
//                               encrypted (its clusters are not moved)
//   STATUS_INVALID_PARAMETER    the range leaves the file's clusters (data in
//                               the record has none) or the target the volume
//   STATUS_DISK_FULL            the new mapping pairs do not fit their record
//   STATUS_INVALID_HANDLE       the file's record is gone
//   STATUS_DEVICE_DATA_ERROR    a read or write of the device failed
// Nothing is written unless the answer is STATUS_SUCCESS or a device error.
nt::NTSTATUS NtfsRelocate(_ntfs_volume* vol, NtfsOrderedDevice& device, uint64_t reference,
                          const NtfsMoveRequest& move, NtfsMoveRules& rules,
                          NtfsRelocation& result);

// Marks `runs` free in the cluster bitmap, after flushing what was written
// before unless `recordsFlushed` (a flush already followed the writes of
// the records that let them go): each stretch of the bitmap they lie in is
// read and written once. False when a transfer failed; the bits of that
// stretch then stay as they were (in use).
bool NtfsFreeClusters(_ntfs_volume* vol, std::vector<NtfsMoveRules::Run> runs, bool recordsFlushed);

}  // namespace platform
