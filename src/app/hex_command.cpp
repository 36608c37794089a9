#include "app/hex_command.h"

#include <ostream>

#include "app/view_map.h"
#include "fat/fat_table.h"
#include "ntfs/ntfs_geometry.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

namespace {

HexWindowOpener g_opener;

bool Read_Boot_Sector() {
  int32_t high = 0;
  nt::SetFilePointer(VolumeSession.VolumeHandle, 0, &high, nt::FILE_BEGIN);
  nt::DWORD read = 0;
  return nt::ReadFile(VolumeSession.VolumeHandle, VolumeSession.BootSector.data(), kSectorSize,
                      &read, nullptr) &&
         read == kSectorSize;
}

}  // namespace

bool Open_Hex_Volume(const std::string& DrvUserText) {
  VolumeSessionData& s = VolumeSession;
  ResetErrorState();
  const std::string root = DrvUserText.substr(0, 2) + "\\";
  std::string fsName = FS_Name(root);
  if (!fsName.empty() && fsName.back() == '\0') fsName.pop_back();
  s.FileSystemName = fsName;
  if (fsName != "NTFS" && fsName != "FAT") return false;
  s.IsNtfs = fsName == "NTFS" ? kTrue : Integer(0);
  s.DriveName = root.substr(0, 2);
  s.TotalSectors = Disk_Size(root, s.SectorsPerCluster);
  if (s.TotalSectors == 0) return false;
  s.VolumeHandle = Open_Lock_Drive(s.DriveName, kAccessRead);
  if (s.VolumeHandle == -1) {
    ReportError(ErrorState.ErrorText);
    return false;
  }
  if (!Read_Boot_Sector()) {
    Close_Drive(s.VolumeHandle);
    ReportError("Error reading " + root);
    return false;
  }
  const Bytes boot = s.BootSector.Span();
  if (s.IsNtfs == 0) {
    s.SectorsPerCluster = U8(boot, 0x0D);
    s.RootEntries = Integer(U16(boot, 0x11));
    s.NumberOfFats = Integer(U8(boot, 0x10));
    s.SectorsPerFat = Integer(U16(boot, 0x16));
    s.SystemSectors = s.NumberOfFats * s.SectorsPerFat + s.RootEntries / 16;
    if (!Load_FAT()) {
      Close_Drive(s.VolumeHandle);
      ReportError("Error reading drive");
      return false;
    }
  } else {
    s.SectorsPerCluster = Ntfs_Sectors_Per_Cluster(boot);
    s.MftLcn = I32(boot, 0x30);
    Calc_Steps();
  }
  return true;
}

void SetHexWindowOpener(HexWindowOpener opener) { g_opener = std::move(opener); }

void Hex_View() {
  MainWindowPort& w = MainWindow();
  if (Open_Hex_Volume(w.DrvUserText())) {
    CheckedScan = 0;
    DefragMode = -1;
    if (g_opener) g_opener();
    // The viewer closes the volume when it unloads; this covers a viewer
    // that never loaded.
    Close_Drive(VolumeSession.VolumeHandle);
  }
  w.DoEvents();
  w.BringToFront();
  if (ErrorState.ReadFault != 0) Check4Errors();
}

}  // namespace vr
