// A read cache of large pieces of the volume's metadata areas (the MFT and
// folder index allocations), so that a scan reading records one by one
// reads each part of the disk once, in a few large transfers. A piece lies
// inside one run of the structure it belongs to: 1 MB from the run's start,
// or what remains of the run. The cache is bounded; the least recently used
// piece goes first. It is emptied when the volume is opened or closed, and
// every raw write of the program passes its bytes to Cache_Written, so a
// cached copy never differs from the disk.
#pragma once

#include <cstdint>

#include "runtime/bytes.h"
#include "runtime/checked.h"

namespace vr {

constexpr int64_t kCachePieceSectors = 2048;  // 1 MB
// 4 MB: a scan that reads front to back reads each piece once whatever the
// bound; a larger bound only costs fresh memory to fill (measured on 100,000
// files: 8 MB made the Checked View 15% slower, 2 MB three times as slow).
constexpr int64_t kCacheLimitBytes = 4 << 20;
// The cache starts at 2 MB and grows towards its limit only when a piece
// dropped for room is asked for again: a front-to-back pass then reuses the
// memory of two pieces instead of touching 8 MB of fresh pages (each first
// touch of a page is a fault, dearer than copying its bytes).
constexpr int64_t kCacheStartBytes = 2 << 20;
constexpr int64_t kCacheSmallestPieceSectors = 8;  // 4 KB, when pieces are wasted

// Reads Buffer.size() bytes (whole sectors) at Sector on VolumeSession's
// handle through the cache. Sector lies in a run of RunSectors sectors that
// starts at RunStart; pieces never reach outside that run. False when the
// volume cannot deliver the sectors asked for; nothing is recorded, the
// caller reports the failure in its own words. A piece that cannot be read
// whole is never cached: its sectors are then read as asked.
bool Cached_Read(Long RunStart, Long RunSectors, Long Sector, MutableBytes Buffer);

// The program wrote Data at Sector: cached copies of those sectors take the
// new bytes.
void Cache_Written(Long Sector, Bytes Data);

// Drops every piece.
void Cache_Clear();

// Counts since the program started (bytesHeld and pieceSectors: now).
struct BlockCacheStats {
  int64_t pieceReads = 0;   // transfers that filled a piece
  int64_t directReads = 0;  // transfers of only the sectors asked for
  int64_t hits = 0;         // requests served from pieces already held
  int64_t bytesHeld = 0;
  int64_t peakBytes = 0;
  int64_t pieceSectors = kCachePieceSectors;  // the size of the next piece
  int64_t boundBytes = kCacheStartBytes;      // what the cache may hold now
};
BlockCacheStats Cache_Stats();

// The limit of the cache in bytes (kCacheLimitBytes unless a test sets
// another); drops pieces beyond a lower limit at once.
void Set_Cache_Limit(int64_t Bytes);

}  // namespace vr
