// The NTFS driver's answers to the file-system control requests that read
// the volume, in NT's buffer layouts and with NT's status rules.
#pragma once

#include "platform/fs_driver.h"
#include "drivers/ntfs/ntfs3g_device.h"

struct _ntfs_volume;

namespace platform {

// FSCTL_GET_NTFS_FILE_RECORD: in, the file reference (its record number is
// used); out, the reference of the record returned (8), its length (4) and
// the record with its update sequence applied. The record returned is the
// nearest one in use at or below the one asked for, as NT answers.
FsControlResult NtfsFileRecord(_ntfs_volume* vol, const FsControlRequest& request);

// FSCTL_GET_VOLUME_BITMAP: in, the starting cluster (rounded down to a
// multiple of 8); out, the starting cluster (8), the number of clusters
// from there to the end (8) and as much of the bitmap as fits;
// STATUS_BUFFER_OVERFLOW when not all of it fitted.
FsControlResult NtfsVolumeBitmap(_ntfs_volume* vol, const FsControlRequest& request);

// FSCTL_GET_RETRIEVAL_POINTERS for the file or folder with MFT reference
// `reference`: in, the starting VCN; out, the extent count (4), padding (4),
// the VCN of the first extent returned (8) and extents {next VCN, LCN}
// (LCN -1 for sparse and compressed-away clusters). Data in the record or
// a start past the end: STATUS_END_OF_FILE; more extents than fit:
// STATUS_BUFFER_OVERFLOW with those that fitted.
FsControlResult NtfsRetrievalPointers(_ntfs_volume* vol, uint64_t reference, bool folder,
                                      const FsControlRequest& request);

// FSCTL_GET_NTFS_VOLUME_DATA: the 96-byte NTFS_VOLUME_DATA_BUFFER.
FsControlResult NtfsVolumeData(const Ntfs3gVolume& mount, const FsControlRequest& request);

}  // namespace platform
