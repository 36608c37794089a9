// Module-level state shared by the shell and the engines: the command flags,
// the options the optimisers read, the limits set per command, the map grid
// and its colours, and the working buffers reserved before a map window opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// Command flags: CheckedScan -1 Checked View, Defrag and the command-line
// run, 0 Fast View; DefragMode -1 view only, 0 defragment, 1 then pack.
extern Integer CheckedScan;
extern Integer DefragMode;
// Options (mirrors of the Options menu's check marks).
extern Integer ViewAfterDefrag;
extern Integer DefragHugeFiles;
extern Integer PackHugeFiles;

// Limits worked out per command.
extern Long HugeFileClusters;  // 25 MB in clusters
extern Long BigFileClusters;   // 512 KB in clusters

// Map grid, set at start-up; these are its values before Form_Load (4-pixel
// boxes 5 pixels apart, 75 x 47 of them).
constexpr int kBoxSize = 4, kBoxPitch = 5, kBoxColumns = 75, kBoxRows = 47;
constexpr int kBoxCount = kBoxColumns * kBoxRows;
extern Integer BoxSize, BoxPitch, BoxColumns, BoxRows, BoxCount;
extern Integer StatusColumn;
extern Long MapLeftOffset, MapTopOffset;
extern Integer BitMask[8];

// Block map: clusters per box and one colour index per box.
extern Integer ClustersPerBox;
extern VbArray<uint8_t> BoxColors;
extern std::string MapCaption;

// Memory set aside and never written: proof that the memory a command needs
// is there. Its pages are not touched, so the system maps none of them until
// something uses them (zeroing 1.7 MB of probe cost a small view a quarter of
// its time in page faults).
class MemoryReserve {
 public:
  explicit MemoryReserve(int64_t upper) { ReDim(upper); }
  // Elements 0..upper (none for -1); error 7 when the memory is not there.
  void ReDim(int64_t upper);
  int64_t UBound() const { return upper_; }

 private:
  std::unique_ptr<int32_t[]> block_;
  int64_t upper_ = -1;
};

// Working buffers reserved before a map window opens.
extern ByteArray MoveBuffer;
extern MemoryReserve MemoryProbe;

extern Long ProcessHandle;
extern std::string SystemDirectory;

}  // namespace vr
