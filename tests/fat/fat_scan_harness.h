// Runs the FAT scan on an image the way the FAT map window does: the image
// mapped as drive F: (optionally with files other programs hold open), the
// volume opened and its boot sector read, the map scaled, a recording main
// window and map canvas installed, then FormLoad from the window's timer.
// Beside it, a plain reader of FAT directories that shares no code with the
// engine, for counts to check the scan against.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "alloc/allocation_state.h"
#include "drivers/builtin_drivers.h"
#include "fat/fat_file_table.h"
#include "fat/fat_scan.h"
#include "fat/fat_table.h"
#include "map/map_canvas.h"
#include "map/map_geometry.h"
#include "map/recording_canvas.h"
#include "map/swatches.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::fat::test {

// A map window's status lines as text.
class RecordingStatus : public StatusSurface {
 public:
  int Width() const override { return 300; }
  int Height() const override { return 40; }
  int TextHeight(const std::string&) const override { return 12; }
  int TextWidth(const std::string& text) const override {
    return 6 * static_cast<int>(text.size());
  }
  void FillBox(int, int, int, int, int) override {}
  void DrawText(int left, int top, const std::string& text, int) override {
    (left < 100 ? labels : values)[top] = text;
  }
  void Update() override {}
  std::map<int, std::string> labels, values;
};

class FakeFatWindow : public FatMapPort {
 public:
  StatusSurface& Status() override { return status; }
  void Move_Raw_List() override { ++listFills; }
  void Closing_Step() override { ++closings; }
  RecordingStatus status;
  int listFills = 0;
  int closings = 0;
};

// A main window whose message queue can press Esc after a number of yields.
class ScanMainWindow : public RecordingMainWindow {
 public:
  void DoEvents() override {
    if (stopAfter >= 0 && ++yields > stopAfter) ErrorState.Failed = kTrue;
  }
  int stopAfter = -1;
  int yields = 0;
};

struct ScanResult {
  std::vector<std::string> lines;  // message-area lines
  std::vector<int> colours;        // colour of each line's first piece
  std::vector<std::string> raw;    // the hidden list Raw
  std::vector<std::string> legend;
  std::map<int, std::string> labels, values;
  int closings = 0;
  int listFills = 0;

  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The colour of the first line that is `line`; -1 when there is none.
  int ColourOf(const std::string& line) const {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == line) return colours[i];
    return -1;
  }
  // The first line that starts with `prefix` ("" when none).
  std::string Starting(const std::string& prefix) const {
    for (const std::string& l : lines)
      if (l.rfind(prefix, 0) == 0) return l;
    return "";
  }
};

struct ScanOptions {
  Integer checked = kTrue;
  Integer defrag = -1;
  std::vector<std::string> busy;
  int stopAfter = -1;
};

// Runs the scan on `image`. The scan's tables, BoxColors and the free
// segments stay for the test to read.
inline ScanResult RunScan(std::vector<uint8_t> image, const ScanOptions& options = {}) {
  ScanResult result;
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();  // files are opened to see whether they are busy
  ResetErrorState();
  auto device = std::make_shared<platform::MemoryDevice>(std::move(image), false);
  platform::MapMemoryDrive('f', device, options.busy);
  Reset_Volume_State();
  VolumeSession.DriveName = "f:";
  VolumeSession.FileSystemName = "FAT";
  VolumeSession.VolumeHandle = Open_Lock_Drive("f:", kAccessReadWrite);
  EXPECT_NE(VolumeSession.VolumeHandle, -1) << "the image does not open as a drive";
  if (VolumeSession.VolumeHandle == -1) return result;
  EXPECT_TRUE(Raw_Read(0, VolumeSession.BootSector.Span()));
  Long spc = 0;
  VolumeSession.TotalSectors = Disk_Size("f:\\", spc);
  VolumeSession.SectorsPerCluster = U8(VolumeSession.BootSector.Span(), 0x0D);
  ResetErrorState();

  CheckedScan = options.checked;
  DefragMode = options.defrag;
  StatusColumn = 160;
  BigFileClusters = Long(1024) / VolumeSession.SectorsPerCluster;
  ClustersPerBox = VolumeSession.TotalClusters / BoxCount + 1;
  BoxColors.ReDim(VolumeSession.TotalClusters / ClustersPerBox + 1);

  ScanMainWindow main;
  main.stopAfter = options.stopAfter;
  SetMainWindow(&main);
  vr::test::RecordingCanvas canvas;
  canvas.Reset(MapWidth(), MapHeight());
  MapCanvas* previous = SetPicMap(&canvas);
  Create_Swatches();

  FakeFatWindow window;
  FormLoad(window);

  for (const auto& line : main.Lines()) {
    result.lines.push_back(line.Text());
    result.colours.push_back(line.pieces.empty() ? -1 : line.pieces.front().colour);
  }
  result.raw = main.Items(Control::Raw);
  result.legend = canvas.Words();
  result.labels = window.status.labels;
  result.values = window.status.values;
  result.closings = window.closings;
  result.listFills = window.listFills;
  SetPicMap(previous);
  SetMainWindow(nullptr);
  Close_Drive(VolumeSession.VolumeHandle);
  platform::ResetPlatform();
  return result;
}

// ---- a plain FAT reader for independent counts ----

struct PlainDirEntry {
  std::string name;  // "NAME.EXT"
  uint8_t attributes = 0;
  uint32_t start = 0;
  uint32_t size = 0;
  std::string path;  // of the holding folder, "" for the root
};

struct PlainTree {
  std::vector<PlainDirEntry> entries;        // files and folders, no dot entries
  uint32_t erased = 0;                       // 0xE5 slots before each directory's end
  uint32_t directories = 0;                  // root included
  uint32_t labels = 0;                       // volume-label entries (not long-name ones)
  std::map<std::string, uint32_t> erasedIn;  // per folder path ("" root)
};

inline std::string PlainName(const std::vector<uint8_t>& img, size_t at) {
  std::string base(reinterpret_cast<const char*>(&img[at]), 8);
  std::string ext(reinterpret_cast<const char*>(&img[at + 8]), 3);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  return ext.empty() ? base : base + "." + ext;
}

inline void PlainWalk(const std::vector<uint8_t>& img, const std::vector<size_t>& offsets,
                      const std::string& path, PlainTree& tree) {
  ++tree.directories;
  std::vector<PlainDirEntry> subs;
  for (size_t at : offsets) {
    const uint8_t first = img[at];
    if (first == 0) break;
    if (first == 0xE5) {
      ++tree.erased;
      ++tree.erasedIn[path];
      continue;
    }
    if (first != '.' && (img[at + 11] & 0x3F) != 0x0F && (img[at + 11] & 0x08) != 0) ++tree.labels;
    if (first == '.' || (img[at + 11] & 0x08) != 0) continue;
    PlainDirEntry e;
    e.name = PlainName(img, at);
    e.attributes = img[at + 11];
    e.start = img[at + 26] | (img[at + 27] << 8);
    e.size = img[at + 28] | (img[at + 29] << 8) | (img[at + 30] << 16) |
             (static_cast<uint32_t>(img[at + 31]) << 24);
    e.path = path;
    tree.entries.push_back(e);
    if (e.attributes & 0x10) subs.push_back(e);
  }
  const auto l = testsupport::ParseFatLayout(img);
  for (const PlainDirEntry& s : subs) {
    std::vector<size_t> next;
    for (uint32_t c : testsupport::PlainChain(img, s.start)) {
      const size_t base =
          (static_cast<size_t>(l.firstDataSector) + (c - 2) * l.sectorsPerCluster) * 512;
      for (size_t k = 0; k < l.sectorsPerCluster * 16u; ++k) next.push_back(base + k * 32);
    }
    PlainWalk(img, next, path.empty() ? s.name : path + "\\" + s.name, tree);
  }
}

inline PlainTree ReadPlainTree(const std::vector<uint8_t>& img) {
  const auto l = testsupport::ParseFatLayout(img);
  std::vector<size_t> root;
  for (size_t k = 0; k < l.rootEntries; ++k) root.push_back(l.rootDirSector * 512 + k * 32);
  PlainTree tree;
  PlainWalk(img, root, "", tree);
  return tree;
}

// Chain heads of the plain FAT: clusters in use, not marked bad or
// reserved, that no entry points to; and how many of them are fragmented.
struct PlainChains {
  uint32_t heads = 0;
  uint32_t fragmented = 0;
  uint32_t freeClusters = 0;
  std::vector<std::pair<uint32_t, uint32_t>> freeRuns;
};

inline PlainChains CountPlainChains(const std::vector<uint8_t>& img) {
  const auto l = testsupport::ParseFatLayout(img);
  const uint32_t last = l.clusters + 1;
  const uint32_t badLow = l.bits == 12 ? 0xFF0 : 0xFFF0;
  const uint32_t badHigh = l.bits == 12 ? 0xFF7 : 0xFFF7;
  std::vector<bool> pointed(last + 1, false);
  for (uint32_t c = 2; c <= last; ++c) {
    const uint32_t n = testsupport::PlainFatEntry(img, c);
    if (n >= 2 && n <= last) pointed[n] = true;
  }
  PlainChains p;
  for (uint32_t c = 2; c <= last; ++c) {
    const uint32_t n = testsupport::PlainFatEntry(img, c);
    if (n == 0) {
      ++p.freeClusters;
      if (!p.freeRuns.empty() && p.freeRuns.back().first + p.freeRuns.back().second == c)
        ++p.freeRuns.back().second;
      else
        p.freeRuns.emplace_back(c, 1);
      continue;
    }
    if (pointed[c] || (n >= badLow && n <= badHigh && n > last)) continue;
    ++p.heads;
    if (testsupport::Runs(testsupport::PlainChain(img, c)).size() > 1) ++p.fragmented;
  }
  return p;
}

}  // namespace vr::fat::test
