#include "volume/block_cache.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "volume/session.h"

namespace vr {

namespace {

struct Piece {
  int64_t start = 0;
  int64_t sectors = 0;
  std::unique_ptr<uint8_t[]> bytes;  // sectors x 512, filled by one read
  std::list<int64_t>::iterator age;  // place in the use order
};

struct Cache {
  int64_t handle = -1;  // the volume handle the pieces were read on
  std::map<int64_t, Piece> pieces;
  std::list<int64_t> used;       // starts, most recently used first
  std::set<int64_t> unreadable;  // pieces that could not be read whole
  std::set<int64_t> evicted;     // starts of pieces dropped for room
  // The memory of the last piece dropped for room, reused by the next piece
  // of its size (a scan reading front to back then needs no new memory).
  std::unique_ptr<uint8_t[]> spare;
  int64_t spareBytes = 0;
  int64_t limit = kCacheLimitBytes;
  BlockCacheStats stats;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

// One transfer of whole sectors at Sector; a short transfer is a failure.
bool ReadDirect(int64_t Sector, MutableBytes Buffer) {
  Seek_Sector(Long(Sector));
  nt::DWORD read = 0;
  const nt::BOOL ok = nt::ReadFile(VolumeSession.VolumeHandle, Buffer.data(),
                                   static_cast<nt::DWORD>(Buffer.size()), &read, nullptr);
  return ok && read == Buffer.size();
}

void Drop(Cache& c, std::map<int64_t, Piece>::iterator it) {
  c.stats.bytesHeld -= it->second.sectors * kSectorSize;
  c.used.erase(it->second.age);
  c.pieces.erase(it);
}

// Drops the least recently used pieces until `bytes` more fit.
void MakeRoom(Cache& c, int64_t bytes) {
  while (!c.used.empty() && c.stats.bytesHeld + bytes > c.stats.boundBytes) {
    const int64_t start = c.used.back();
    c.evicted.insert(start);
    auto it = c.pieces.find(start);
    c.spareBytes = it->second.sectors * kSectorSize;
    c.spare = std::move(it->second.bytes);
    Drop(c, it);
  }
}

// The piece holding Sector, or null.
Piece* Holding(Cache& c, int64_t Sector) {
  auto it = c.pieces.upper_bound(Sector);
  if (it == c.pieces.begin()) return nullptr;
  --it;
  if (Sector >= it->first + it->second.sectors) return nullptr;
  c.used.splice(c.used.begin(), c.used, it->second.age);
  return &it->second;
}

// Reads the piece of the run [RunStart, RunEnd) that holds Sector; null when
// it cannot be read whole (or is larger than the whole cache).
Piece* Fill(Cache& c, int64_t RunStart, int64_t RunEnd, int64_t Sector) {
  const int64_t size = c.stats.pieceSectors;
  const int64_t start = RunStart + (Sector - RunStart) / size * size;
  const int64_t sectors = std::min(size, RunEnd - start);
  const int64_t bytes = sectors * kSectorSize;
  if (bytes > c.limit || c.unreadable.count(start) != 0) return nullptr;
  // A piece read a second time was dropped for room: the scan jumps about
  // more than the cache holds. The cache grows up to its limit; beyond that
  // later pieces are smaller and waste less.
  if (c.evicted.count(start) != 0) {
    if (c.stats.boundBytes < c.limit)
      c.stats.boundBytes = std::min(c.limit, c.stats.boundBytes * 2);
    else
      c.stats.pieceSectors = std::max(kCacheSmallestPieceSectors, c.stats.pieceSectors / 2);
  }
  // Pieces of an earlier size that overlap this one hold the same bytes.
  for (auto it = c.pieces.lower_bound(start - kCachePieceSectors);
       it != c.pieces.end() && it->first < start + sectors;) {
    if (it->first + it->second.sectors > start)
      Drop(c, it++);
    else
      ++it;
  }
  MakeRoom(c, bytes);
  std::unique_ptr<uint8_t[]> data;
  if (c.spare && c.spareBytes == bytes)
    data = std::move(c.spare);
  else
    data.reset(new uint8_t[static_cast<size_t>(bytes)]);  // the read fills it all
  if (!ReadDirect(start, MutableBytes(data.get(), static_cast<size_t>(bytes)))) {
    c.unreadable.insert(start);
    c.spare = std::move(data);
    c.spareBytes = bytes;
    return nullptr;
  }
  c.stats.pieceReads += 1;
  c.used.push_front(start);
  Piece& p = c.pieces[start];
  p.start = start;
  p.sectors = sectors;
  p.bytes = std::move(data);
  p.age = c.used.begin();
  c.stats.bytesHeld += bytes;
  c.stats.peakBytes = std::max(c.stats.peakBytes, c.stats.bytesHeld);
  return &p;
}

}  // namespace

bool Cached_Read(Long RunStart, Long RunSectors, Long Sector, MutableBytes Buffer) {
  Cache& c = TheCache();
  if (c.handle != VolumeSession.VolumeHandle.Value()) {
    Cache_Clear();
    c.handle = VolumeSession.VolumeHandle;
  }
  const int64_t runStart = RunStart, runEnd = runStart + int64_t{RunSectors.Value()};
  int64_t at = Sector;
  int64_t need = static_cast<int64_t>(Buffer.size()) / kSectorSize;
  if (Buffer.empty() || Buffer.size() % kSectorSize != 0 || runStart < 0 || at < runStart ||
      at + need > runEnd || VolumeSession.VolumeHandle == -1) {
    c.stats.directReads += 1;
    return ReadDirect(at, Buffer);
  }
  size_t done = 0;
  while (need > 0) {
    Piece* p = Holding(c, at);
    if (p != nullptr) {
      c.stats.hits += 1;
    } else {
      p = Fill(c, runStart, runEnd, at);
      if (p == nullptr) {
        c.stats.directReads += 1;
        return ReadDirect(at, Buffer.subspan(done));
      }
    }
    const int64_t n = std::min(need, p->start + p->sectors - at);
    std::memcpy(Buffer.data() + done, p->bytes.get() + (at - p->start) * kSectorSize,
                static_cast<size_t>(n * kSectorSize));
    done += static_cast<size_t>(n * kSectorSize);
    at += n;
    need -= n;
  }
  return true;
}

void Cache_Written(Long Sector, Bytes Data) {
  Cache& c = TheCache();
  const int64_t first = Sector;
  const int64_t end = first + static_cast<int64_t>((Data.size() + kSectorSize - 1) / kSectorSize);
  auto it = c.pieces.upper_bound(first);
  if (it != c.pieces.begin()) --it;
  for (; it != c.pieces.end() && it->first < end; ++it) {
    const int64_t from = std::max(first, it->first);
    const int64_t to = std::min(end, it->first + it->second.sectors);
    if (from >= to) continue;
    const size_t src = static_cast<size_t>((from - first) * kSectorSize);
    const size_t count =
        std::min(static_cast<size_t>((to - from) * kSectorSize), Data.size() - src);
    std::memcpy(it->second.bytes.get() + (from - it->first) * kSectorSize, Data.data() + src,
                count);
  }
  // A piece that could not be read may be readable now.
  c.unreadable.erase(c.unreadable.lower_bound(first - kCachePieceSectors),
                     c.unreadable.lower_bound(end));
}

void Cache_Clear() {
  Cache& c = TheCache();
  c.pieces.clear();
  c.used.clear();
  c.unreadable.clear();
  c.evicted.clear();
  c.spare.reset();
  c.spareBytes = 0;
  c.handle = -1;
  c.stats.bytesHeld = 0;
  c.stats.pieceSectors = kCachePieceSectors;
  c.stats.boundBytes = std::min(c.limit, kCacheStartBytes);
}

BlockCacheStats Cache_Stats() { return TheCache().stats; }

void Set_Cache_Limit(int64_t Bytes) {
  Cache& c = TheCache();
  c.limit = Bytes;
  c.stats.boundBytes = std::min(Bytes, std::max(c.stats.boundBytes, kCacheStartBytes));
  MakeRoom(c, 0);
  c.spare.reset();
  c.spareBytes = 0;
}

}  // namespace vr
