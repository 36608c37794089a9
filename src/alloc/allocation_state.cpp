#include "alloc/allocation_state.h"

#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

AllocationStateData Allocation;

void Reset_Allocation() { Allocation = AllocationStateData{}; }

void Reset_Volume_State() {
  VolumeSession = VolumeSessionData{};
  ResetErrorState();
  Reset_Allocation();
  CheckedScan = -1;
  DefragMode = -1;
  BoxSize = kBoxSize;
  BoxPitch = kBoxPitch;
  BoxColumns = kBoxColumns;
  BoxRows = kBoxRows;
  BoxCount = kBoxCount;
  ClustersPerBox = 1;
  BoxColors.ReDim(0);
}

void Set_Allocation_Floor(bool Ntfs) {
  AllocationStateData& a = Allocation;
  if (!Ntfs) {
    a.AllocationFloor = 0;
    a.AllocationReserveEnd = 0;
    return;
  }
  const VolumeSessionData& s = VolumeSession;
  a.AllocationFloor = s.TotalSectors / s.SectorsPerCluster / 8;
  a.AllocationReserveEnd = a.AllocationFloor + Long(50000) / s.SectorsPerCluster;
}

void Size_Computed_Bitmap(bool Keep) {
  AllocationStateData& a = Allocation;
  if (!Keep) {
    a.ComputedBitmap.ReDim(a.VolumeBitmap.UBound());
  } else if (a.ComputedBitmap.UBound() != a.VolumeBitmap.UBound()) {
    a.ComputedBitmap.ReDimPreserve(a.VolumeBitmap.UBound());
  }
}

void Free_Bitmaps() {
  Allocation.VolumeBitmap.ReDim(0);
  Allocation.ComputedBitmap.ReDim(0);
}

}  // namespace vr
