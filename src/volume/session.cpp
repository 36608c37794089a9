#include "volume/session.h"

#include <cstring>

#include "volume/block_cache.h"
#include "volume/clean_check.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr {

VolumeSessionData VolumeSession;

namespace {
constexpr uint32_t kOpenFlags = 0xA0000000u;  // write-through, no buffering
constexpr uint32_t kExclusive = 0;
constexpr uint32_t kShareReadWrite = 3;
}  // namespace

Long Open_Drive(const std::string& DriveName, uint32_t Access, uint32_t ShareMode) {
  const std::string device = "\\\\.\\" + DriveName.substr(0, 2);
  return nt::CreateFileA(device, Access, ShareMode, nullptr, nt::OPEN_EXISTING, kOpenFlags, 0);
}

Long Open_Lock_Drive(const std::string& DriveName, uint32_t Access) {
  Cache_Clear();  // the volume may have changed since it was last open
  VolumeSession.Locked = 0;
  VolumeSession.NotLocked = 0;
  VolumeSession.SharedMode = 0;
  Long handle = Open_Drive(DriveName, Access, kExclusive);
  if (handle == -1) {
    VolumeSession.NotLocked = kTrue;
    VolumeSession.SharedMode = kTrue;
    handle = Open_Drive(DriveName, Access, kShareReadWrite);
  } else {
    nt::DWORD returned = 0;
    const nt::BOOL ok = nt::DeviceIoControl(handle, nt::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                            &returned, nullptr);
    VolumeSession.Locked = static_cast<int16_t>(ok);
    if (VolumeSession.Locked == 0) VolumeSession.NotLocked = kTrue;
  }
  ForgetCleanCheck();
  if (handle == -1) {
    // A volume that opens for reading but not for writing is not busy: it
    // can be viewed, never changed.
    ErrorState.ErrorText = "Drive Busy";
    if ((Access & kAccessWrite) != 0) {
      Long probe = Open_Drive(DriveName, Access & ~kAccessWrite, kShareReadWrite);
      if (probe != -1) {
        nt::CloseHandle(probe);
        ErrorState.ErrorText = "read-only: view only";
      }
    }
    ErrorState.ErrorCount = 1;
    ErrorState.Failed = kTrue;
  }
  return handle;
}

int Close_Drive(Long& Handle) {
  if (Handle == -1) return 0;
  if (VolumeSession.Locked != 0) {
    nt::DWORD returned = 0;
    nt::DeviceIoControl(VolumeSession.VolumeHandle, nt::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0,
                        &returned, nullptr);
    VolumeSession.Locked = 0;
  }
  const int result = nt::CloseHandle(Handle);
  Handle = -1;
  Cache_Clear();
  return result;
}

bool Seek_Sector(Long Sector) {
  const int32_t s = Sector;
  uint32_t low = (static_cast<uint32_t>(s) & 0x3FFFFFu) * 512u;
  if (s & 0x400000) low |= 0x80000000u;
  int32_t high = (s >> 23) & 0xFF;
  const nt::DWORD at = nt::SetFilePointer(VolumeSession.VolumeHandle, static_cast<int32_t>(low),
                                          &high, nt::FILE_BEGIN);
  return at != nt::INVALID_SET_FILE_POINTER || nt::GetLastError() == nt::ERROR_SUCCESS;
}

bool Raw_Read(Long Sector, MutableBytes Buffer) {
  if (!Seek_Sector(Sector)) {
    Read_Error();
    return false;
  }
  nt::DWORD read = 0;
  const nt::BOOL ok = nt::ReadFile(VolumeSession.VolumeHandle, Buffer.data(),
                                   static_cast<nt::DWORD>(Buffer.size()), &read, nullptr);
  if (!ok || read != Buffer.size()) {
    Read_Error();
    return false;
  }
  return true;
}

std::string FS_Name(const std::string& Root) {
  char volumeName[32] = {};
  char fsName[16] = {};
  nt::DWORD serial = 0, maxComponent = 0, flags = 0;
  nt::GetVolumeInformationA(Root, volumeName, sizeof volumeName, &serial, &maxComponent, &flags,
                            fsName, sizeof fsName);
  // The buffer keeps its terminating NUL, as the caller expects to drop it.
  std::string name(fsName, strnlen(fsName, sizeof fsName));
  if (name.size() < sizeof fsName) name += '\0';
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

Long Disk_Size(const std::string& Root, Long& SectorsPerCluster) {
  nt::DWORD spc = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!nt::GetDiskFreeSpaceA(Root, &spc, &bytesPerSector, &freeClusters, &totalClusters)) {
    Unable_To_Access(Root);
    return 0;
  }
  SectorsPerCluster = static_cast<int64_t>(spc);
  VolumeSession.FreeClusters = static_cast<int64_t>(freeClusters);
  VolumeSession.TotalClusters = static_cast<int64_t>(totalClusters);
  return SectorsPerCluster * VolumeSession.TotalClusters;
}

void Unable_To_Access(const std::string& Root) {
  const std::string reason = platform::LastDriveFailure();
  ReportError("Unable to access " + Root);
  if (!reason.empty()) ReportError(Root.substr(0, 2) + " " + reason);
}

std::string Win_Version() {
  nt::OSVERSIONINFOA info;
  nt::GetVersionExA(&info);
  std::string text = std::to_string(info.dwMajorVersion) + "." +
                     std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
  const std::string sp(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
  if (!sp.empty()) text += " " + sp;
  return text;
}

}  // namespace vr
