#include "platform/builtin_drivers.h"

#include "platform/fat_driver.h"
#include "platform/fs_driver.h"
#include "platform/ntfs_driver.h"

namespace platform {

void RegisterBuiltinDrivers() {
  RegisterFileSystemDriver("FAT", &fat::FatDriver::Create);
  RegisterNtfsDriver();
}

}  // namespace platform
