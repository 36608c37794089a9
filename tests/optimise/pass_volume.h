// An in-memory volume for the pass tests: the session's geometry, a file
// table, the volume bitmap and the free-segment table, with files placed by
// record number and the free segments worked out from the bitmap.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "alloc/allocation_state.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/passes.h"
#include "volume/file_table.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::testing_passes {

class PassVolume : public ::testing::Test {
 protected:
  // An NTFS volume of Clusters clusters (shared: in use), records 0 .. 199,
  // nothing in use, no floor.
  void Volume(int64_t Clusters, bool Shared, bool Ntfs = true, int64_t SectorsPerCluster = 8) {
    Reset_Volume_State();
    VolumeSession.IsNtfs = Ntfs ? -1 : 0;
    VolumeSession.SharedMode = Shared ? -1 : 0;
    VolumeSession.SectorsPerCluster = Long(SectorsPerCluster);
    VolumeSession.TotalClusters = Long(Clusters);
    VolumeSession.TotalSectors = Long(Clusters * SectorsPerCluster);
    VolumeSession.FreeClusters = Long(Clusters);
    ClustersPerBox = Long(Clusters / BoxCount + 1);
    BoxColors.ReDim(Clusters / ClustersPerBox + 1);
    Allocation.VolumeBitmapBytes = Long((Clusters + 7) / 8);
    Allocation.VolumeBitmap.ReDim(Allocation.VolumeBitmapBytes - 1);
    for (auto* column : {&ClusterCount, &FirstLcn}) column->ReDim(kRecords - 1);
    for (auto* column : {&DoNotMove, &MoveDelayed, &FileFlags}) column->ReDim(kRecords - 1);
    FragmentState.ReDim(kRecords - 1);
    FirstUserRecord = 11;
    RecordCount = kRecords;
    ntfs::FragmentedFiles = 0;
    PackBoundary = 0;
    HugeFileClusters = Long(51200 / SectorsPerCluster);
    DefragHugeFiles = 0;
    PackHugeFiles = 0;
  }
  void TearDown() override { Reset_Volume_State(); }

  // Record R: Lcn .. Lcn + N - 1 in use, contiguous (Fragments 1) or not.
  static void File(int64_t R, int64_t Lcn, int64_t N, int Fragments = 1) {
    FirstLcn(R) = Long(Lcn);
    ClusterCount(R) = Long(N);
    FragmentState(R) = Integer(Fragments + 1);
    Mark(Lcn, N, true);
    VolumeSession.FreeClusters = VolumeSession.FreeClusters - Long(N);
  }
  static void Mark(int64_t Start, int64_t N, bool Used) {
    for (int64_t c = Start; c < Start + N; ++c) {
      const auto bit = static_cast<uint8_t>(1u << (c % 8));
      uint8_t& byte = Allocation.VolumeBitmap(c / 8);
      byte = Used ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
    }
  }
  // The free segments exactly as the bitmap gives them.
  static void Segments() {
    std::vector<std::pair<int64_t, int64_t>> runs;
    const int64_t total = VolumeSession.TotalClusters;
    for (int64_t c = 0; c < total;) {
      if ((Allocation.VolumeBitmap(c / 8) >> (c % 8)) & 1) {
        ++c;
        continue;
      }
      int64_t e = c;
      while (e < total && !((Allocation.VolumeBitmap(e / 8) >> (e % 8)) & 1)) ++e;
      runs.emplace_back(c, e - c);
      c = e;
    }
    const auto n = static_cast<int64_t>(runs.size());
    Allocation.FreeStarts.ReDim(n);
    Allocation.FreeLengths.ReDim(n);
    for (int64_t i = 1; i <= n; ++i) {
      Allocation.FreeStarts(i) = Long(runs[i - 1].first);
      Allocation.FreeLengths(i) = Long(runs[i - 1].second);
    }
    Allocation.FreeCount = Long(n);
    Allocation.FreeCursor = 0;
  }
  // Every record from FirstUserRecord with clusters, sorted by FirstLcn.
  static std::vector<Candidate> Candidates() {
    std::vector<Candidate> list;
    for (int64_t r = FirstUserRecord; r < kRecords; ++r)
      if (FragmentState(r) > 1) list.push_back({FirstLcn(r), Long(r)});
    Sort_Candidates(list);
    return list;
  }

  static constexpr int64_t kRecords = 200;
};

}  // namespace vr::testing_passes
