// Shared set-up for the cluster-map tests: a volume geometry with a bitmap
// chosen per test, and an independent reading of what the free-segment
// table must hold.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "runtime/vb_array.h"
#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {

struct Gap {
  int64_t start;
  int64_t length;
  bool operator==(const Gap&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Gap& g) {
  return os << "(" << g.start << "," << g.length << ")";
}

class ClusterMapTest : public testing::Test {
 protected:
  void SetUp() override {
    Reset_Volume_State();
    VolumeSession.IsNtfs = -1;
    VolumeSession.SectorsPerCluster = 8;
    VolumeSession.SectorsPerFileRecord = 2;
    BigFileClusters = 1024 / 8;
    Allocation.FreeStarts.ReDim(0);
    Allocation.FreeLengths.ReDim(0);
    Allocation.FreeCount = 0;
    Allocation.FreeCursor = 7;
  }
  void TearDown() override { Reset_Volume_State(); }

  // A volume of `clusters` clusters, every cluster in use, no MFT zone.
  void Volume(int64_t clusters) {
    VolumeSession.TotalSectors = Long(clusters * VolumeSession.SectorsPerCluster);
    VolumeSession.TotalClusters = Long(clusters);
    Allocation.VolumeBitmap.ReDim((clusters + 7) / 8 - 1);
    for (int64_t i = 0; i <= Allocation.VolumeBitmap.UBound(); ++i)
      Allocation.VolumeBitmap(i) = 0xFF;
  }
  static void Free(int64_t start, int64_t length) {
    for (int64_t c = start; c < start + length; ++c)
      Allocation.VolumeBitmap(c / 8) &= static_cast<uint8_t>(~(1u << (c % 8)));
  }
  static void Use(int64_t start, int64_t length) {
    for (int64_t c = start; c < start + length; ++c)
      Allocation.VolumeBitmap(c / 8) |= static_cast<uint8_t>(1u << (c % 8));
  }
  // The zone as the volume-data query sets it from its start and end LCNs.
  static void Zone(int64_t start, int64_t end) {
    Allocation.MftZoneStart = Long(start / 8 * 8);
    Allocation.MftZoneLength = Long((end + 7) / 8 * 8 - start / 8 * 8 + 1);
    Allocation.MftZoneFirstByte = Long(start / 8);
    Allocation.MftZoneLastByte = Long((end + 7) / 8);
  }

  static std::vector<Gap> Listed() {
    std::vector<Gap> out;
    EXPECT_LE(Allocation.FreeCount, Allocation.FreeStarts.UBound());
    for (int64_t i = 1; i <= Allocation.FreeCount; ++i)
      out.push_back({Allocation.FreeStarts(i), Allocation.FreeLengths(i)});
    return out;
  }
};

// What the free list must be, worked out cluster by cluster from the bitmap:
// bytes of the MFT zone count as full; a gap that ends at a used cluster
// whose byte is not full is listed only from 16 clusters up (its clusters
// go to `small`); gaps are split at `floor`.
inline std::vector<Gap> ExpectedGaps(const ByteArray& bitmap, int64_t total, int64_t zoneFirst,
                                     int64_t zoneLast, int64_t floor, int64_t& small) {
  auto byte = [&](int64_t k) -> uint8_t {
    if (k >= zoneFirst && k <= zoneLast) return 0xFF;
    return bitmap(k);
  };
  auto used = [&](int64_t c) { return (byte(c / 8) >> (c % 8)) & 1; };
  std::vector<Gap> gaps;
  small = 0;
  int64_t c = 0;
  while (c < total) {
    if (used(c)) {
      ++c;
      continue;
    }
    const int64_t g = c;
    while (c < total && !used(c)) ++c;
    const int64_t length = c - g;
    if (c < total && length < 16 && byte(c / 8) != 0xFF) {
      small += length;
      continue;
    }
    if (g < floor && floor < g + length) {
      gaps.push_back({g, floor - g});
      gaps.push_back({floor, g + length - floor});
    } else {
      gaps.push_back({g, length});
    }
  }
  return gaps;
}

}  // namespace vr::test
