#include "ntfs/cluster_map.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>

#include "map/map_colors.h"
#include "map/mark_segments.h"
#include "map/paint.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "platform/nt.h"
#include "runtime/bytes.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

Long SmallGapClusters;
Long BitmapSector;
Long MftZoneFree;

namespace {

constexpr int64_t kFirstRoom = 500;      // free-segment entries reserved at the start
constexpr int64_t kBitPathGrowth = 500;  // growth while testing single bits
constexpr int64_t kByteGrowthCap = 5000;
constexpr int64_t kSmallGap = 16;  // NTFS gaps ending inside a byte below this are not listed
constexpr int64_t kClustersPerBitmapSector = 4096;
constexpr int64_t kFirstComparedRecordByte = 2;     // records 16 and up
constexpr uint32_t kFileSignature = 0x454C4946u;    // "FILE"
constexpr uint64_t kRecordRef = 0xFFFFFFFFFFFFull;  // record number of a file reference

bool ErrorsCounted() { return (ErrorState.ErrorCount & 0x3FFF) != 0; }

// The clusters the bitmap stands for: whole clusters of the volume.
int64_t VolumeClusters() {
  return int64_t{VolumeSession.TotalSectors.Value()} / VolumeSession.SectorsPerCluster;
}

// The write failure of the optimiser: the run stops, the drive is suspect.
void Write_Failed(const std::string& Where) {
  ErrorState.ErrorText = "Error writing drive";
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = Where;
  ErrorState.ReadFault = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
}

// A write-back asked for where it must not happen: nothing is written, the
// run stops as after a failed write, and the fault is the program's own.
void Write_Refused(const std::string& Where) {
  Write_Failed(Where);
  ErrorState.ReadFault = 0;
  ErrorState.InternalFault = kTrue;
}

// A write-back is allowed only on a volume the program holds exclusively
// and locked; anything else would write behind the file system's back.
bool MayWrite() {
  const VolumeSessionData& s = VolumeSession;
  return s.VolumeHandle != -1 && s.SharedMode == 0 && s.NotLocked == 0 && s.Locked != 0 &&
         s.IsNtfs != 0;
}

// One write of whole sectors at Sector; a short transfer is a failure.
bool Write_Sectors(Long Sector, Bytes Data) {
  Seek_Sector(Sector);
  nt::DWORD written = 0;
  const nt::BOOL ok = nt::WriteFile(VolumeSession.VolumeHandle, Data.data(),
                                    static_cast<nt::DWORD>(Data.size()), &written, nullptr);
  return ok && written == Data.size();
}

// Builds the free-segment table; see Setup_FREE_Segs.
class FreeSegmentBuilder {
 public:
  FreeSegmentBuilder() {
    FreeStarts.ReDim(kFirstRoom);
    FreeLengths.ReDim(kFirstRoom);
  }

  void Append(int64_t start, int64_t length, int64_t growth) {
    const int64_t floor = VolumeSession.AllocationFloor;
    if (start < floor && floor < start + length) {
      Add(start, floor - start, growth);
      Add(floor, start + length - floor, growth);
    } else {
      Add(start, length, growth);
    }
  }

  int64_t Count() const { return n_; }

 private:
  void Add(int64_t start, int64_t length, int64_t growth) {
    ++n_;
    if (n_ > FreeStarts.UBound()) {
      FreeStarts.ReDimPreserve(FreeStarts.UBound() + growth);
      FreeLengths.ReDimPreserve(FreeLengths.UBound() + growth);
    }
    FreeStarts(n_) = Long(start);
    FreeLengths(n_) = Long(length);
  }

  int64_t n_ = 0;
};

void BuildFreeSegments() {
  VolumeSessionData& s = VolumeSession;
  FreeCount = 0;
  FreeCursor = 0;
  SmallGapClusters = 0;
  FreeSegmentBuilder table;
  const bool ntfs = s.IsNtfs != 0;
  const int64_t smallGap = ntfs ? kSmallGap : 0;
  const int64_t total = VolumeClusters();
  // The last byte may stand for fewer than eight clusters; its other bits
  // are no clusters of the volume and never free space.
  const int64_t bytes = (total + 7) / 8;
  const int64_t zoneFirst = s.MftZoneFirstByte;
  const int64_t zoneLast = s.MftZoneLastByte;
  bool open = false;
  int64_t g = 0;
  int64_t k = 0;
  while (k < bytes) {
    const int64_t base = 8 * k;
    if (ntfs && k == zoneFirst) {
      // The MFT zone is never free space. When the file system allocates
      // for us (SharedMode), it must not be offered as a target either.
      if (DefragMode >= 0 && s.SharedMode != 0) {
        const int64_t last = std::min<int64_t>(zoneLast, s.VolumeBitmap.UBound());
        for (int64_t z = zoneFirst; z <= last; ++z) s.VolumeBitmap(z) = 0xFF;
      }
      if (open) table.Append(g, base - g, std::min<int64_t>(table.Count() + 1, kByteGrowthCap));
      open = false;
      k = std::max(k, zoneLast) + 1;
      continue;
    }
    const int bits = static_cast<int>(std::min<int64_t>(8, total - base));
    const uint8_t b = s.VolumeBitmap(k);
    if (b == 0xFF) {
      if (open) table.Append(g, base - g, std::min<int64_t>(table.Count() + 1, kByteGrowthCap));
      open = false;
    } else if (b == 0) {
      if (!open) g = base;
      open = true;
    } else {
      for (int bit = 0; bit < bits; ++bit) {
        const int64_t c = base + bit;
        if ((b >> bit) & 1) {
          if (!open) continue;
          open = false;
          if (c - g < smallGap) {
            SmallGapClusters += Long(c - g);
          } else {
            table.Append(g, c - g, kBitPathGrowth);
          }
        } else if (!open) {
          g = c;
          open = true;
        }
      }
    }
    ++k;
  }
  if (open) table.Append(g, total - g, kBitPathGrowth);
  FreeCount = Long(table.Count());
}

// The bits of byte ByteIndex that stand for clusters of the volume.
uint8_t VolumeBits(int64_t ByteIndex, int64_t total) {
  const int64_t left = total - 8 * ByteIndex;
  return left >= 8 ? 0xFF : static_cast<uint8_t>((1u << left) - 1);
}

void Count_Differences(int64_t ByteIndex, uint8_t Mask, Long& BitsExtra, Long& BitsLess) {
  const uint8_t volume = VolumeSession.VolumeBitmap(ByteIndex);
  const uint8_t computed = ComputedBitmap(ByteIndex);
  const uint8_t differ = (volume ^ computed) & Mask;
  for (int bit = 0; bit < 8; ++bit) {
    if (((differ >> bit) & 1) == 0) continue;
    if ((volume >> bit) & 1) {
      BitsExtra += 1;
    } else {
      BitsLess += 1;
    }
  }
}

void CompareBitmaps(Long& Excess, Long& Unmarked) {
  if (MftBitmapLengths.UBound() >= 1) {
    Mark_Segments(MftBitmapLengths, MftBitmapLcns, RecordInfo{}, true);
  }
  const int64_t total = VolumeClusters();
  const int64_t bytes = (total + 7) / 8;
  const ByteArray& volume = VolumeSession.VolumeBitmap;
  for (int64_t k = 0; k < bytes; ++k) {
    const uint8_t mask = VolumeBits(k, total);
    if (((volume(k) ^ ComputedBitmap(k)) & mask) == 0) continue;
    Paint_Cluster(Long(8 * k), kColorMarked);
    Count_Differences(k, mask, Excess, Unmarked);
  }
}

void FindUnreferenced() {
  const int64_t records = Mft_Record_Count();
  const int64_t last = std::min<int64_t>({records / 8, MftBitmap.UBound(), SeenRecords.UBound()});
  for (int64_t k = kFirstComparedRecordByte; k <= last; ++k) {
    // In use but never reached; a record reached but not in use is the
    // scan's own "ChkActive" matter.
    const uint8_t lost = MftBitmap(k) & ~SeenRecords(k);
    if (lost == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      const int64_t r = 8 * k + bit;
      if (((lost >> bit) & 1) == 0 || r >= records) continue;
      // Only a base record whose own header says it is in use is a file;
      // reserved records and extension records are not.
      ByteArray raw;
      const bool read = Read_FILE_Hook ? Read_FILE_Hook(raw, Long(r)) : Read_FILE(raw, Long(r));
      if (!read) return;
      const Bytes h = raw.Span();
      if (U32(h, 0) != kFileSignature || (U16(h, 0x16) & 1) == 0 ||
          (U64(h, 0x20) & kRecordRef) != 0)
        continue;
      VbArray<Long> lengths, lcns;
      RecordInfo info;
      Decode_FILE_Record(Long(r), lengths, lcns, raw, info);
      Set_Error("Unref. file " + Str(r) + " " + Printable(info.Name));
      return;
    }
  }
}

}  // namespace

void Setup_FREE_Segs() {
  try {
    BuildFreeSegments();
  } catch (const RunError& e) {
    // A partial table must never be allocated from.
    FreeCount = 0;
    FreeCursor = 0;
    Trap_Error("Setup_FREE_Segs", e.Number(), e.Description());
  }
}

Long Total_Free() {
  Long clusters = SmallGapClusters;
  for (int64_t i = 1; i <= FreeCount; ++i) clusters += FreeLengths(i);
  return clusters * VolumeSession.SectorsPerCluster;
}

Long Large_Free() {
  const VolumeSessionData& s = VolumeSession;
  const int64_t zoneStart = s.MftZoneStart;
  const int64_t zoneEnd = zoneStart + s.MftZoneLength;
  Long clusters = 0;
  for (int64_t i = 1; i <= FreeCount; ++i) {
    const int64_t start = FreeStarts(i);
    int64_t length = FreeLengths(i);
    if (s.IsNtfs != 0) {
      if (start > zoneStart && start < zoneEnd) {
        length = start + length - zoneEnd;
      } else if (start <= zoneStart && start + length > zoneStart) {
        length = zoneStart - start;
      }
    }
    if (length >= BigFileClusters) clusters += Long(length);
  }
  return clusters * s.SectorsPerCluster;
}

Long Count_Used(const ByteArray& Bitmap, Long Start, Long Length) {
  int64_t pos = std::max<int64_t>(Start, 0);
  const int64_t end = std::min<int64_t>(int64_t{Start.Value()} + Length.Value(),
                                        static_cast<int64_t>(Bitmap.size()) * 8);
  int64_t used = 0;
  while (pos < end) {
    if (pos % 8 == 0 && end - pos >= 8) {
      used += std::popcount(Bitmap(pos / 8));
      pos += 8;
    } else {
      used += (Bitmap(pos / 8) >> (pos % 8)) & 1;
      ++pos;
    }
  }
  return Long(used);
}

Long Mft_Zone_Free() {
  const VolumeSessionData& s = VolumeSession;
  if (s.IsNtfs == 0) {
    MftZoneFree = 0;
  } else {
    MftZoneFree = s.MftZoneLength - Count_Used(s.VolumeBitmap, s.MftZoneStart, s.MftZoneLength);
  }
  return MftZoneFree;
}

void Mark_Used(ByteArray& Bitmap, Long Start, Long Length) {
  const int64_t end = int64_t{Start.Value()} + Length.Value();
  for (int64_t c = Start; c < end; ++c) {
    if (c % 8 == 0 && end - c >= 8) {
      Bitmap(c / 8) = 0xFF;
      c += 7;
    } else {
      Bitmap(c / 8) |= static_cast<uint8_t>(1u << (c % 8));
    }
  }
}

void Mark_Run(Long Start, Long Length) {
  if (VolumeSession.SharedMode != 0) return;
  const int64_t end = int64_t{Start.Value()} + Length.Value();
  if (Start <= 0 || Length <= 0 || end > static_cast<int64_t>(ComputedBitmap.size()) * 8) return;
  Mark_Used(ComputedBitmap, Start, Length);
}

void Mark_Runs(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  const int64_t count = std::min(Lengths.UBound(), Lcns.UBound());
  for (int64_t i = 1; i <= count; ++i) Mark_Run(Lcns(i), Lengths(i));
}

void Differences(Long ByteIndex, Long& BitsExtra, Long& BitsLess) {
  Count_Differences(ByteIndex, 0xFF, BitsExtra, BitsLess);
}

void Bitmap_Vs_Bitmapx(Long& Excess, Long& Unmarked) {
  Excess = 0;
  Unmarked = 0;
  try {
    CompareBitmaps(Excess, Unmarked);
  } catch (const RunError& e) {
    Trap_Error("Bitmap_Vs_Bitmapx", e.Number(), e.Description());
  }
}

void Checking_Bitmaps() {
  Long excess, unmarked;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  if (!ErrorsCounted() && ErrorState.Failed == 0) {
    if (excess != 0) ReportLine("Bitmap: excess=" + Str(excess));
    if (unmarked != 0) {
      ReportError("Bitmap: unmarked=" + Str(unmarked));
      ErrorState.ErrorCount = 1;
    }
  }
  if (ErrorsCounted()) {
    ErrorState.Failed = kTrue;
    ErrorState.RecordFault = kTrue;
  }
}

void ActiveBitmap_Vs_ActiveBitmapx() {
  try {
    FindUnreferenced();
  } catch (const RunError& e) {
    Trap_Error("ActiveBitmap_Vs_ActiveBitmapx", e.Number(), e.Description());
  }
}

namespace {

bool WriteBitmap(Long Block, Long Top) {
  const VolumeSessionData& s = VolumeSession;
  if (Top <= Block) return true;  // nothing changed
  const int64_t first = Block / kClustersPerBitmapSector;
  const int64_t count = (int64_t{Top.Value()} - 1) / kClustersPerBitmapSector - first + 1;
  const int64_t from = first * kSectorSize;
  const int64_t bytes = count * kSectorSize;
  // The run read at load time is the $Bitmap file's only run; never write
  // outside it.
  if (!MayWrite() || BitmapSector <= 0 || Block < 0 ||
      from + bytes > static_cast<int64_t>(s.VolumeBitmap.size())) {
    Write_Refused("Save_BitMap");
    return false;
  }
  const Bytes data(s.VolumeBitmap.data() + from, static_cast<size_t>(bytes));
  if (!Write_Sectors(BitmapSector + Long(first), data)) {
    Write_Failed("Save_BitMap");
    return false;
  }
  return true;
}

// File_Buf must be a FILE record of this volume's record size as it lies on
// the disk: each sector ending in the update sequence number, and (NTFS 3.1
// headers) carrying its own record number.
bool ReadyForDisk(const ByteArray& File_Buf, Long RecordNumber) {
  const int64_t sectors = VolumeSession.SectorsPerFileRecord;
  if (sectors <= 0 || static_cast<int64_t>(File_Buf.size()) != sectors * kSectorSize) return false;
  const Bytes b = File_Buf.Span();
  if (U32(b, 0) != kFileSignature) return false;
  const int64_t usa = U16(b, 4);
  if (U16(b, 6) != sectors + 1) return false;
  const uint16_t usn = U16(b, usa);
  for (int64_t k = 1; k <= sectors; ++k)
    if (U16(b, k * kSectorSize - 2) != usn) return false;
  if (usa >= 0x30 && U32(b, 0x2C) != static_cast<uint32_t>(RecordNumber.Value())) return false;
  return true;
}

bool WriteRecord(const ByteArray& File_Buf, Long RecordNumber) {
  if (!MayWrite() || RecordNumber < 0 || RecordNumber >= Mft_Record_Count() ||
      !ReadyForDisk(File_Buf, RecordNumber)) {
    Write_Refused("Save_Buf");
    return false;
  }
  const Integer before = ErrorState.ErrorCount;
  Long left, next;
  const Long sector = FileBlock(RecordNumber, left, next);
  // A record the MFT's runs do not place (or that needs a third run) is
  // never written anywhere.
  if (ErrorState.ErrorCount != before || sector <= 0 || left <= 0) {
    if (ErrorState.ErrorCount == before) Write_Refused("Save_Buf");
    return false;
  }
  const int64_t spr = VolumeSession.SectorsPerFileRecord;
  const Bytes all = File_Buf.Span();
  bool ok;
  if (left < spr) {
    if (next <= 0) {
      Write_Refused("Save_Buf");
      return false;
    }
    const size_t head = static_cast<size_t>(left.Value()) * kSectorSize;
    ok = Write_Sectors(sector, all.subspan(0, head)) && Write_Sectors(next, all.subspan(head));
  } else {
    ok = Write_Sectors(sector, all);
  }
  if (!ok) Write_Failed("Save_Buf");
  return ok;
}

}  // namespace

bool Save_BitMap(Long Block, Long Top) {
  try {
    return WriteBitmap(Block, Top);
  } catch (const RunError& e) {
    Trap_Error("Save_BitMap", e.Number(), e.Description());
    return false;
  }
}

bool Save_Buf(const ByteArray& File_Buf, Long RecordNumber) {
  try {
    return WriteRecord(File_Buf, RecordNumber);
  } catch (const RunError& e) {
    Trap_Error("Save_Buf", e.Number(), e.Description());
    return false;
  }
}

}  // namespace vr
