// The emulated NTFS file-system driver, built on libntfs-3g: files by path,
// directory listings, reads of the unnamed $DATA, and the control requests
// for file records, the volume bitmap, retrieval pointers, volume data and
// file moves (FSCTL_MOVE_FILE: rules in ntfs_driver_move.h, the moving in
// ntfs_driver_relocate.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/fs_driver.h"

namespace platform {

// The driver for `context`'s volume; null and an explanation when
// libntfs-3g cannot mount it.
std::unique_ptr<FileSystemDriver> CreateNtfsDriver(const DriverContext& context,
                                                   std::string& error);

// How long clusters a move released stay taken (milliseconds of the
// platform clock) before the driver frees them in the cluster bitmap, for
// every NTFS driver from the next move on. The default is
// kNtfsDefaultFlushDelayMs, or VODURU_NTFS_FLUSH_DELAY (milliseconds) when
// set. A move into clusters still waiting is answered
// STATUS_ALREADY_COMMITTED; the program locking the volume, and the driver
// going away, free them at once.
constexpr uint64_t kNtfsDefaultFlushDelayMs = 5000;
void SetNtfsFlushDelay(uint64_t ms);
uint64_t NtfsFlushDelay();

// The number of file moves NTFS drivers have carried out in this process.
uint64_t NtfsMovesDone();

// Registers CreateNtfsDriver for "NTFS" (RegisterBuiltinDrivers calls it).
void RegisterNtfsDriver();

}  // namespace platform
