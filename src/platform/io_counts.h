// Counts of the transfers that reached each drive's device since the
// program started, taken at the top of the device stack: every read and
// write the program and the file-system drivers asked of the volume. With
// VODURU_IO_COUNTS set to a file name, the counts are written there when
// the program ends, one line per drive ("c: reads=N bytes=N writes=N
// written=N"), for the benchmarks.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/block_device.h"

namespace platform {

struct IoCounts {
  uint64_t reads = 0;
  uint64_t readBytes = 0;
  uint64_t writes = 0;
  uint64_t writtenBytes = 0;
};

IoCounts TransferCounts(char letter);

// `inner` with its transfers counted under `letter`.
std::shared_ptr<BlockDevice> CountTransfers(char letter, std::shared_ptr<BlockDevice> inner);

}  // namespace platform
