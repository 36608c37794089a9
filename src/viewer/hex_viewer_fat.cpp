// The FAT side of the viewer: the root directory, the directory sectors
// counted across the directory's runs, and the walk into folders by a click
// on their entries.
#include <algorithm>

#include "fat/fat_chain.h"
#include "fat/fat_table.h"
#include "runtime/format.h"
#include "viewer/hex_lines.h"
#include "viewer/hex_viewer.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

namespace {

Long Dir_Sectors(const std::vector<DirRun>& runs) {
  int64_t n = 0;
  for (const DirRun& r : runs) n += r.count.Value();
  return Long(std::min<int64_t>(n, 0x7FFFFFFF));
}

}  // namespace

void HexViewer::Load_Fat() {
  port_.SetDirLabel("RootDir");
  dirs_.assign(1, {DirRun{FatLayout.RootDirSector, FatLayout.RootDirSectors}});
  loaded_ = true;
  Show_Dir_Sector(0);
}

// Sector Number of the directory on display (beyond its end: the last).
void HexViewer::Show_Dir_Sector(Long Number) {
  const std::vector<DirRun>& runs = dirs_.back();
  const Long total = Dir_Sectors(runs);
  if (total <= 0) {
    port_.Beep();
    return;
  }
  int64_t n = std::min<int64_t>(Number.Value(), total.Value() - 1);
  dirSector_ = Long(n);
  for (const DirRun& r : runs) {
    if (n < r.count) {
      currentSector_ = r.sector + Long(n);
      break;
    }
    n -= r.count.Value();
  }
  port_.SetBoxText(HexBox::Dir, Str(dirSector_.Value()));
  HexDisplay(1, BlockKind::DirSector);
}

void HexViewer::TxtDir_Enter() {
  Guarded([this] {
    if (VolumeSession.IsNtfs != 0 || !loaded_) return;
    bool empty = false;
    Show_Dir_Sector(Box_Number(HexBox::Dir, empty));
  });
}

// The folder whose first cluster is Cluster becomes the directory on
// display, its chain followed through the FAT.
void HexViewer::Open_Dir(Long Cluster) {
  VbArray<Long> lengths(0), starts(0);
  const ErrorStateData before = ErrorState;
  ErrorState.ErrorCount = 0;
  const Long clusters = FAT_Chain(Cluster, lengths, starts);
  const bool failed = AnyErrorCounted();
  ErrorState = before;
  if (failed || clusters <= 0) {
    port_.Beep();  // a damaged chain: nothing to show
    return;
  }
  std::vector<DirRun> runs;
  for (int64_t i = 1; i <= lengths.UBound(); ++i) {
    if (lengths(i) <= 0) continue;
    runs.push_back(
        {Cluster_Sector(FatLayout, starts(i)), lengths(i) * FatLayout.SectorsPerCluster});
  }
  dirs_.push_back(std::move(runs));
  Show_Dir_Sector(0);
}

void HexViewer::PicText_Click(int Row, int Column) {
  Guarded([&] {
    if (VolumeSession.IsNtfs != 0 || kind_ != BlockKind::DirSector) return;
    if (Row < 0 || Row >= kHexPageRows || Column < 0 || Column >= kHexRowBytes) return;
    const int64_t entry = (pageOffset_ + Row * kHexRowBytes + Column) / 32 * 32;
    if (entry + 32 > static_cast<int64_t>(block_.size())) return;
    const Bytes b = block_.Span();
    const uint8_t first = U8(b, entry);
    if (first == 0 || first == 0xE5 || U8(b, entry + 11) == 0x0F || !(U8(b, entry + 11) & 0x10))
      return;
    const std::string name = GetAscii(b, entry, 11);
    if (name == ".          ") {
      Show_Dir_Sector(0);
      return;
    }
    if (name == "..         ") {
      if (dirs_.size() > 1) dirs_.pop_back();
      Show_Dir_Sector(0);
      return;
    }
    Open_Dir(Long(U16(b, entry + 26)));
  });
}

}  // namespace vr
