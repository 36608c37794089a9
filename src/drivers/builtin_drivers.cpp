#include "drivers/builtin_drivers.h"

#include "drivers/fat/fat_driver.h"
#include "platform/fs_driver.h"
#include "drivers/ntfs/ntfs_driver.h"

namespace platform {

void RegisterBuiltinDrivers() {
  RegisterFileSystemDriver("FAT", &fat::FatDriver::Create);
  RegisterNtfsDriver();
}

}  // namespace platform
