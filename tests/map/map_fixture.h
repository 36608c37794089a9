// A block map of a chosen size drawn on a recording canvas, with the shared
// state the painters read reset around every test.
#pragma once

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/cluster_bitmaps.h"
#include "alloc/free_segments.h"
#include "map/legend.h"
#include "map/map_canvas.h"
#include "map/map_geometry.h"
#include "map/recording_canvas.h"
#include "map/swatches.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::test {

class MapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset_Volume_State();
    BigFileClusters = 128;
    LegendOnly = 0;
    SetFree({});
    Allocation.ComputedBitmap.ReDim(0);
    Create_Swatches();
    canvas.Reset(MapWidth(), MapHeight());
    previous_ = SetPicMap(&canvas);
  }
  void TearDown() override {
    SetPicMap(previous_);
    BoxColors.ReDim(0);
    ClustersPerBox = 1;
  }

  // The scale and the box array as the drive identification sets them.
  void SizeMap(Long total) {
    VolumeSession.TotalClusters = total;
    ClustersPerBox = total / BoxCount + 1;
    BoxColors.ReDim(total / ClustersPerBox + 1);
  }
  // Free segments 1..n (entry 0 empty); cursor as the NTFS build leaves it.
  static void SetFree(const std::vector<std::pair<Long, Long>>& segments, Long cursor = 0) {
    Allocation.FreeStarts.ReDim(static_cast<int64_t>(segments.size()));
    Allocation.FreeLengths.ReDim(static_cast<int64_t>(segments.size()));
    for (size_t i = 0; i < segments.size(); ++i) {
      Allocation.FreeStarts(static_cast<int64_t>(i) + 1) = segments[i].first;
      Allocation.FreeLengths(static_cast<int64_t>(i) + 1) = segments[i].second;
    }
    Allocation.FreeCount = static_cast<int32_t>(segments.size());
    Allocation.FreeCursor = cursor;
  }
  // A 1-based segment list trimmed to its count.
  static std::pair<VbArray<Long>, VbArray<Long>> Segments(
      const std::vector<std::pair<Long, Long>>& starts_and_lengths) {
    VbArray<Long> lengths(static_cast<int64_t>(starts_and_lengths.size()));
    VbArray<Long> starts(static_cast<int64_t>(starts_and_lengths.size()));
    for (size_t i = 0; i < starts_and_lengths.size(); ++i) {
      starts(static_cast<int64_t>(i) + 1) = starts_and_lengths[i].first;
      lengths(static_cast<int64_t>(i) + 1) = starts_and_lengths[i].second;
    }
    return {std::move(lengths), std::move(starts)};
  }

  // The colour box `b` shows on the canvas: its pixel (1, 0) carries the
  // box's own colour index in every checker.
  int Shown(Long b) const { return canvas.At(BoxLeft(b) + 1, BoxTop(b)); }
  int DrawsOf(Long b) const { return canvas.BlocksAt(BoxLeft(b), BoxTop(b)); }
  static int Stored(Long b) { return BoxColors(b); }

  RecordingCanvas canvas;

 private:
  MapCanvas* previous_ = nullptr;
};

}  // namespace vr::test
