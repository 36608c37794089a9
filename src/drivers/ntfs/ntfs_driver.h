// The emulated NTFS file-system driver, built on libntfs-3g: files by path,
// directory listings, reads of the unnamed $DATA, and the control requests
// for file records, the volume bitmap, retrieval pointers and volume data.
// File moves are answered STATUS_INVALID_DEVICE_REQUEST for now; their
// rules (target free, flush delay) are in ntfs_driver_move.h.
#pragma once

#include <memory>
#include <string>

#include "platform/fs_driver.h"

namespace platform {

// The driver for `context`'s volume; null and an explanation when
// libntfs-3g cannot mount it.
std::unique_ptr<FileSystemDriver> CreateNtfsDriver(const DriverContext& context,
                                                   std::string& error);

// Registers CreateNtfsDriver for "NTFS" (RegisterBuiltinDrivers calls it).
void RegisterNtfsDriver();

}  // namespace platform
