// The file-system drivers the platform brings: registers each under the
// file-system name GetVolumeInformationA reports. Start-up calls this once;
// tests call it to get the real drivers.
#pragma once

namespace platform {

void RegisterBuiltinDrivers();

}  // namespace platform
