#include "alloc/volume_bitmap.h"

#include <algorithm>
#include <cstdint>

#include "alloc/allocation_state.h"
#include "runtime/bytes.h"
#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/fs_control.h"
#include "volume/session.h"

namespace vr {

namespace {

// A 64-bit reply field read through its low 32 bits.
Long Low32(Bytes b, int64_t offset) { return static_cast<int32_t>(U32(b, offset)); }

}  // namespace

void Load_Bitmap(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  const VolumeSessionData& s = VolumeSession;
  AllocationStateData& a = Allocation;
  a.BitmapSector = 0;
  a.ChangedFirst = 0;
  a.ChangedEnd = 0;
  if (s.SharedMode != 0) {
    ByteArray scratch(7);
    a.VolumeBitmapBytes = Get_Volume_Bitmap(0, 8, scratch, 0);
    if (AnyErrorCounted()) return;
    const int64_t rounded = (int64_t{a.VolumeBitmapBytes.Value()} + 4095) / 4096 * 4096;
    a.VolumeBitmap.ReDim(rounded - 1);
    Get_Volume_Bitmap(0, a.VolumeBitmapBytes, a.VolumeBitmap, 0);
    return;
  }
  if (Lengths.UBound() != 1 || Lcns.UBound() < 1) {
    Set_Error("$Bitmap fragmented");
    return;
  }
  const Integer sectors = Lengths(1) * s.SectorsPerCluster;
  const Long bytes = Long(sectors) * kSectorSize;
  const Long first = Lcns(1) * s.SectorsPerCluster;
  a.VolumeBitmap.ReDim(int64_t{bytes.Value()} - 1);
  if (!Raw_Read(first, a.VolumeBitmap.Span())) return;
  // The bytes that stand for clusters of the volume, as the file system
  // would report them.
  a.VolumeBitmapBytes = std::min<int64_t>((int64_t{s.TotalClusters.Value()} + 7) / 8, bytes);
  // Only a volume the program holds locked may get its bitmap written back.
  if (s.NotLocked == 0) a.BitmapSector = first;
}

bool Get_MFT_Zone() {
  const VolumeSessionData& s = VolumeSession;
  AllocationStateData& a = Allocation;
  if (s.IsNtfs == 0) {
    a.AllocationFloor = 0;
    a.AllocationReserveEnd = 0;
    a.MftZoneStart = 0;
    a.MftZoneLength = 0;
    a.MftZoneFirstByte = 0;
    a.MftZoneLastByte = 0;
    return true;
  }
  uint8_t reply[kVolumeDataBytes] = {};
  nt::IO_STATUS_BLOCK io;
  const nt::NTSTATUS status = Fs_Control(s.VolumeHandle, nt::FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                                         reply, sizeof reply, io);
  if (status != nt::STATUS_SUCCESS || io.Information < sizeof reply) {
    Read_Error();
    return false;
  }
  const Bytes r(reply, sizeof reply);
  const Long zoneStart = Low32(r, 0x50);
  const Long zoneEnd = Low32(r, 0x58);
  a.MftZoneStart = zoneStart / 8 * 8;
  const Long end8 = (zoneEnd + 7) / 8 * 8;
  a.MftZoneLength = end8 - a.MftZoneStart + 1;
  a.MftZoneFirstByte = zoneStart / 8;
  a.MftZoneLastByte = (zoneEnd + 7) / 8;
  if (a.AllocationFloor < end8 - 31) {
    a.AllocationFloor = 0;
    a.AllocationReserveEnd = 0;
  }
  return true;
}

void Set_Volume_Bits(Long Start, Long N, bool Used) {
  AllocationStateData& a = Allocation;
  if (N <= 0) return;
  const int64_t start = Start, end = start + N.Value();
  if (start < 0 || end > static_cast<int64_t>(a.VolumeBitmap.size()) * 8)
    throw RunError(kErrSubscript);
  for (int64_t c = start; c < end; ++c) {
    const uint8_t mask = static_cast<uint8_t>(1u << (c % 8));
    if (Used) {
      a.VolumeBitmap(c / 8) |= mask;
    } else {
      a.VolumeBitmap(c / 8) &= static_cast<uint8_t>(~mask);
    }
  }
  if (a.ChangedEnd <= a.ChangedFirst) {
    a.ChangedFirst = Start;
    a.ChangedEnd = Long(end);
  } else {
    a.ChangedFirst = std::min<int64_t>(a.ChangedFirst, start);
    a.ChangedEnd = std::max<int64_t>(a.ChangedEnd, end);
  }
}

Long Count_Free(Long Start, Long N) {
  const ByteArray& bitmap = Allocation.VolumeBitmap;
  int64_t limit = static_cast<int64_t>(bitmap.size()) * 8;
  if (VolumeSession.TotalClusters > 0)
    limit = std::min<int64_t>(limit, VolumeSession.TotalClusters.Value());
  if (Start < 0 || N <= 0) return 0;
  const int64_t start = Start;
  const int64_t end = std::min<int64_t>(start + N.Value(), limit);
  int64_t c = start;
  while (c < end) {
    // A whole free byte at once.
    if (c % 8 == 0 && c + 8 <= end && bitmap(c / 8) == 0) {
      c += 8;
      continue;
    }
    if ((bitmap(c / 8) >> (c % 8)) & 1) break;
    ++c;
  }
  return Long(c - start);
}

void Bitmap_Saved(Long Block, Long Top) {
  AllocationStateData& a = Allocation;
  if (Block <= a.ChangedFirst && Top >= a.ChangedEnd) {
    a.ChangedFirst = 0;
    a.ChangedEnd = 0;
  }
}

void Forget_Volume_Bitmap() {
  Allocation.VolumeBitmap.ReDim(-1);
  Allocation.VolumeBitmapBytes = 0;
  Allocation.BitmapSector = 0;
}

}  // namespace vr
