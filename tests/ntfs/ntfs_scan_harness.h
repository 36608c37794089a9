// Running the NTFS scans on a volume image as the shell would: the image
// mapped as drive N: (held by other programs when busy files are named),
// opened, its geometry read from the boot sector, the map sized, and the
// scan run from the map window's timer against a recording main window.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "alloc/allocation_state.h"
#include "drivers/builtin_drivers.h"
#include "map/map_canvas.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_geometry.h"
#include "ntfs/ntfs_scan.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "runtime/bytes.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {

// A map window that records its status lines and its closing step.
class FakeNtfsWindow : public NtfsMapPort, public StatusSurface {
 public:
  StatusSurface& Status() override { return *this; }
  void Move_Raw_List() override { ++rawMoves; }
  void Closing_Step() override { ++closings; }
  int Width() const override { return 300; }
  int Height() const override { return 40; }
  int TextHeight(const std::string&) const override { return 10; }
  int TextWidth(const std::string& t) const override { return static_cast<int>(t.size()) * 6; }
  void FillBox(int, int, int, int, int) override {}
  void DrawText(int, int y, const std::string& text, int) override {
    texts.push_back(std::to_string(y) + ":" + text);
  }
  void Update() override {}

  std::vector<std::string> texts;
  int rawMoves = 0;
  int closings = 0;
};

class NtfsScanTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    Reset_Volume_State();
    Install_MFT_Hooks();
    Paint_20h_Hook = nullptr;
    previous_ = &MainWindow();
    SetMainWindow(&main_);
    for (int i = 0; i < 8; ++i) BitMask[i] = Integer(1 << i);
  }
  void TearDown() override {
    Long h = VolumeSession.VolumeHandle;
    Close_Drive(h);
    Reset_Volume_State();
    SetMainWindow(nullptr);
    platform::ResetPlatform();
  }

  // Maps the image as N: and opens it as the shell does before the map
  // window appears. False when it cannot be opened.
  bool Open(const std::vector<uint8_t>& image, std::vector<std::string> busy = {}) {
    return Open(std::make_shared<platform::MemoryDevice>(image, false), std::move(busy));
  }
  // The same on `device`, which the caller keeps to look at what was written.
  bool Open(std::shared_ptr<platform::MemoryDevice> device, std::vector<std::string> busy = {}) {
    Long previous = VolumeSession.VolumeHandle;
    Close_Drive(previous);
    platform::MapMemoryDrive('n', std::move(device), std::move(busy));
    VolumeSession = VolumeSessionData{};
    Reset_Allocation();
    VolumeSession.DriveName = "n:";
    VolumeSession.FileSystemName = "NTFS";
    VolumeSession.IsNtfs = kTrue;
    Long spc = 0;
    VolumeSession.TotalSectors = Disk_Size("n:\\", spc);
    if (VolumeSession.TotalSectors == 0) return false;
    VolumeSession.VolumeHandle = Open_Lock_Drive("n:", kAccessReadWrite);
    if (VolumeSession.VolumeHandle == -1) return false;
    if (!Raw_Read(0, VolumeSession.BootSector.Span())) return false;
    const Bytes boot = VolumeSession.BootSector.Span();
    Set_Ntfs_Geometry(boot);
    ClustersPerBox = VolumeSession.TotalClusters / BoxCount + 1;
    BoxColors.ReDim(VolumeSession.TotalClusters / ClustersPerBox + 1);
    BigFileClusters = Long(1024) / VolumeSession.SectorsPerCluster;
    HugeFileClusters = Long(51200) / VolumeSession.SectorsPerCluster;
    return true;
  }

  // The whole scan from the window's timer; returns the report lines.
  std::vector<std::string> Run(bool checked) {
    CheckedScan = checked ? kTrue : kFalse;
    main_.MsgClear();
    FormLoad(window_);
    return main_.LineTexts();
  }

  std::vector<std::string> Raw() const { return main_.Items(Control::Raw); }

  static bool Has(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  }
  static std::string Line(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& l : lines)
      if (l.rfind(start, 0) == 0) return l;
    return "";
  }
  static std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
  }

  RecordingMainWindow main_;
  FakeNtfsWindow window_;
  MainWindowPort* previous_ = nullptr;
};

}  // namespace vr::test
