#include "app/view_map.h"

#include <cmath>

#include "app/shell.h"
#include "ntfs/ntfs_geometry.h"
#include "platform/nt.h"
#include "platform/partitions.h"
#include "platform/platform.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

bool CommandLineRun = false;

namespace {

void ReleaseWorkingMemory() {
  MemoryProbe.ReDim(0);
  MoveBuffer.ReDim(0);
}

// The operation word of the map caption: the menu caption without its "&".
std::string OperationWord() {
  std::string caption;
  if (CheckedScan != 0 && DefragMode >= 0)
    caption = "&Defrag";
  else if (CheckedScan != 0)
    caption = "&Checked View";
  else
    caption = "&Fast View";
  const auto amp = caption.find('&');
  return caption.substr(0, amp) + caption.substr(amp + 1);
}

// Sectors per cluster from boot byte 0x0D (NTFS encodes large clusters as
// a negative power of two).
Long BootSectorsPerCluster(bool ntfs) {
  const Bytes boot = VolumeSession.BootSector.Span();
  return ntfs ? Ntfs_Sectors_Per_Cluster(boot) : Long(U8(boot, 0x0D));
}

// Reads sector `sector` on the fresh handle; false when it cannot be read
// whole.
bool ReadVolumeSector(int64_t sector, uint8_t* buffer) {
  if (sector < 0 || sector > (int64_t{1} << 40)) return false;  // past any device we serve
  int32_t high = static_cast<int32_t>((sector * kSectorSize) >> 32);
  nt::SetFilePointer(VolumeSession.VolumeHandle, static_cast<int32_t>(sector * kSectorSize), &high,
                     nt::FILE_BEGIN);
  nt::DWORD read = 0;
  return nt::ReadFile(VolumeSession.VolumeHandle, buffer, kSectorSize, &read, nullptr) &&
         read == kSectorSize;
}

// The number of sectors the boot sector says the volume holds.
int64_t DeclaredSectors(bool ntfs) {
  const Bytes boot = VolumeSession.BootSector.Span();
  if (ntfs) return I64(boot, 0x28);
  const int64_t small = U16(boot, 0x13);
  return small != 0 ? small : static_cast<int64_t>(U32(boot, 0x20));
}

// The boot sector, and the last sector of the volume: a device shorter than
// the file system on it (a truncated image) is refused before any engine
// relies on clusters that are not there.
bool ReadBootSector() {
  if (!ReadVolumeSector(0, VolumeSession.BootSector.data())) return false;
  const int64_t last = DeclaredSectors(VolumeSession.IsNtfs != 0) - 1;
  uint8_t probe[kSectorSize];
  return last <= 0 || ReadVolumeSector(last, probe);
}

// A drive that names a whole disk with a partition table: one line saying
// so and one per partition, so the user can pick one in the drive map.
bool Whole_Disk(const std::string& root) {
  platform::PartitionTable table;
  if (!platform::WholeDiskTable(root[0], table)) return false;
  const platform::DriveEntry* entry = platform::FindDrive(root[0]);
  const std::string path = entry != nullptr ? entry->path : std::string();
  ReportError(root.substr(0, 2) + " " + path + " is a whole disk (" +
              (table.kind == "dos"   ? std::string("MBR")
               : table.kind == "gpt" ? "GPT"
                                     : table.kind) +
              "); pick a partition in the drive map: " + root.substr(0, 1) + "=" + path +
              ",partition=N");
  for (const std::string& line : platform::PartitionLines(table)) ReportLine("  " + line);
  return true;
}

// Everything after a successful open ends here: the volume is closed and the
// window put back, also when a run-time error cut the command short.
void FinishCommand() {
  MainWindowPort& w = MainWindow();
  w.SetVisible(Control::DrvUser, true);
  ReleaseWorkingMemory();
  w.ClearList(Control::Raw);
  Close_Drive(VolumeSession.VolumeHandle);
  nt::SetPriorityClass(ProcessHandle, nt::NORMAL_PRIORITY_CLASS);
  w.SetBusyCursor(false);
}

// After the boot sector is read: the allocation-unit line, the map scale, the
// memory and the map window of the file system.
void ScaleAndDispatch(const std::string& fsName) {
  MainWindowPort& w = MainWindow();
  ReportPiece("AllocUnit=");
  if (VolumeSession.SectorsPerCluster == 1)
    ReportPiece("0.5");
  else
    ReportPiece(NumText(VolumeSession.SectorsPerCluster / 2));
  ReportSize("Kb,  Size=", VolumeSession.TotalSectors);

  ClustersPerBox = VolumeSession.TotalClusters / BoxCount + 1;
  ReportLine("Map Scale=" + Str((ClustersPerBox * VolumeSession.SectorsPerCluster) / 2) +
             " Kb/Box");
  BoxColors.ReDim(VolumeSession.TotalClusters / ClustersPerBox + 1);
  if (VolumeSession.NotLocked != 0) ReportNote("Shared volume");
  BigFileClusters = Long(1024) / VolumeSession.SectorsPerCluster;

  w.SetVisible(Control::picMap, true);
  w.SetVisible(Control::lblMaker, false);
  w.SetVisible(Control::imgBrim, false);
  w.SetBusyCursor(true);
  nt::SetPriorityClass(ProcessHandle, nt::HIGH_PRIORITY_CLASS);

  const std::string word = OperationWord();
  w.SetVisible(Control::DrvUser, false);
  if (fsName == "FAT") {
    MapCaption = "FAT " + word + " " + VolumeSession.DriveName;
    if (Get_Mem(true)) {
      ViewFatMap();
      if (DefragMode >= 0 && ErrorState.Failed == 0 && VolumeSession.SharedMode != 0)
        w.ShowMapWindow(MapKind::Ntfs, MapCaption);
    }
  } else {
    MapCaption = "NTFS " + word + " " + VolumeSession.DriveName;
    if (Get_Mem(false)) ViewNtfsMap();
  }
}

void ViewMapSteps() {
  MainWindowPort& w = MainWindow();
  ResetErrorState();
  VolumeSession.IsNtfs = 0;
  Cls_Pos();

  const std::string text = w.DrvUserText();
  const std::string root = text.substr(0, 2) + "\\";
  VolumeSession.DriveName = root.substr(0, 2);

  std::string fsName = FS_Name(root);
  const nt::DWORD identifyError = nt::GetLastError();
  if (!fsName.empty() && fsName.back() == '\0') fsName.pop_back();
  VolumeSession.FileSystemName = fsName;
  if (fsName.empty() && identifyError != nt::ERROR_UNRECOGNIZED_VOLUME) {
    // Nothing could be read at all: say so rather than call it unsupported.
    Unable_To_Access(root);
    return;
  }
  if (fsName.empty() && Whole_Disk(root)) return;
  if (fsName.empty()) {
    // A readable volume the platform refuses: say why (an unknown kind, a
    // sector size other than 512 bytes, a damaged boot sector).
    ReportError("Unsupported File System: " + platform::LastVolumeRefusal());
    return;
  }
  if (fsName != "FAT" && fsName != "NTFS") {
    ReportError("Unsupported File System: " + fsName);
    return;
  }
  if (fsName == "NTFS") VolumeSession.IsNtfs = kTrue;

  VolumeSession.TotalSectors = Disk_Size(root, VolumeSession.SectorsPerCluster);
  if (VolumeSession.TotalSectors == 0) return;
  HugeFileClusters = Long(51200) / VolumeSession.SectorsPerCluster;

  // Views only read: an image or device the user may not write can still be
  // looked at. Only an optimisation asks for write access.
  const uint32_t access = DefragMode < 0 ? kAccessRead : kAccessReadWrite;
  VolumeSession.VolumeHandle = Open_Lock_Drive(VolumeSession.DriveName, access);
  if (VolumeSession.VolumeHandle == -1) {
    ReportError(ErrorState.ErrorText);
    Check4Errors();
    ReleaseWorkingMemory();
    return;
  }

  if (!ReadBootSector()) {
    Close_Drive(VolumeSession.VolumeHandle);
    ReportError("Error reading " + VolumeSession.DriveName);
    ReleaseWorkingMemory();
    return;
  }

  ReportLine("Drive=" + text + "  FS=" + fsName);
  VolumeSession.SectorsPerCluster = BootSectorsPerCluster(VolumeSession.IsNtfs != 0);

  if (VolumeSession.SharedMode != 0 && fsName == "NTFS" && VolumeSession.SectorsPerCluster > 8) {
    Close_Drive(VolumeSession.VolumeHandle);
    ReportError("Unable_to_process drive");
    ReportError("Allocation unit > 4Kb");
    ReleaseWorkingMemory();
    return;
  }

  ScaleAndDispatch(fsName);
  FinishCommand();
  w.BringToFront();
  Check4Errors();
  // The fragmented-files list, when shown, stands where the pie would go.
  // Nobody sees the pie of a run without a display.
  if (!w.IsVisible(Control::frmInuse) && !Headless) Hooks().Show_PiChart();
}

}  // namespace

void ViewMap() {
  try {
    ViewMapSteps();
  } catch (const RunError& e) {
    ReportError(e.Description());
    ErrorState.Failed = kTrue;
    // Every path that opened the volume closes it and puts the window back.
    if (VolumeSession.VolumeHandle != -1) FinishCommand();
  }
}

bool Get_Mem(bool IsFat) {
  try {
    if (VolumeSession.SharedMode == 0 && CheckedScan != 0) MoveBuffer.ReDim(0xFFFFF);
    const Long sectors = VolumeSession.TotalClusters * VolumeSession.SectorsPerCluster;
    // Rounded to the nearest whole number, halves to even.
    Long n = static_cast<int64_t>(std::nearbyint(static_cast<double>(sectors) / 256.0));
    const Long extra = IsFat ? Long(2) * n : Long(0);
    if (n < 15000) n = 15000;
    MemoryProbe.ReDim(Long(25) * n + 50000 + extra);
    return true;
  } catch (const RunError&) {
    MemoryProbe.ReDim(0);
    MoveBuffer.ReDim(0);
    MainWindow().Beep();
    if (CommandLineRun) {
      ReportError("Insufficient memory.");
    } else {
      if (!MainWindow().WindowVisible()) CrapOut("");
      NoMemErr();
    }
    return false;
  }
}

void ViewFatMap() {
  const Bytes boot = VolumeSession.BootSector.Span();
  VolumeSession.RootEntries = Integer(U16(boot, 0x11));
  VolumeSession.NumberOfFats = Integer(U8(boot, 0x10));
  VolumeSession.SectorsPerFat = Integer(U16(boot, 0x16));
  VolumeSession.SystemSectors =
      VolumeSession.NumberOfFats * VolumeSession.SectorsPerFat + VolumeSession.RootEntries / 16;
  MainWindow().ShowMapWindow(MapKind::Fat, MapCaption);
}

void ViewNtfsMap() {
  VolumeSession.MftLcn = I32(VolumeSession.BootSector.Span(), 0x30);
  Calc_Steps();
  MainWindow().ShowMapWindow(MapKind::Ntfs, MapCaption);
}

void Calc_Steps() {
  const Bytes boot = VolumeSession.BootSector.Span();
  VolumeSession.SectorsPerFileRecord =
      Ntfs_Block_Sectors(boot, 0x40, VolumeSession.SectorsPerCluster);
  VolumeSession.SectorsPerIndexBlock =
      Ntfs_Block_Sectors(boot, 0x44, VolumeSession.SectorsPerCluster);
}

}  // namespace vr
