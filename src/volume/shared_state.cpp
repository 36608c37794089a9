#include "volume/shared_state.h"

#include <new>

#include "runtime/run_error.h"

namespace vr {

Integer CheckedScan = -1;
Integer DefragMode = -1;
Integer ViewAfterDefrag = -1;
Integer DefragHugeFiles = 0;
Integer PackHugeFiles = 0;
Long HugeFileClusters;
Long BigFileClusters;
Integer BoxSize = kBoxSize, BoxPitch = kBoxPitch, BoxColumns = kBoxColumns, BoxRows = kBoxRows,
        BoxCount = kBoxCount;
Integer StatusColumn = 160;
Long MapLeftOffset, MapTopOffset;
Integer BitMask[8] = {1, 2, 4, 8, 16, 32, 64, 128};
Integer ClustersPerBox = 1;
VbArray<uint8_t> BoxColors(0);
std::string MapCaption;
ByteArray MoveBuffer(0);
MemoryReserve MemoryProbe(0);
Long ProcessHandle;
std::string SystemDirectory;

void MemoryReserve::ReDim(int64_t upper) {
  if (upper < -1) Raise(kErrSubscript);
  std::unique_ptr<int32_t[]> block;
  if (upper >= 0) {
    block.reset(new (std::nothrow) int32_t[static_cast<size_t>(upper) + 1]);  // left unwritten
    if (!block) Raise(kErrOutOfMemory);
  }
  block_ = std::move(block);
  upper_ = upper;
}

}  // namespace vr
