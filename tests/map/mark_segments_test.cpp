// One NTFS file's segments: category colour, fragments and the computed
// bitmap.
#include "map/mark_segments.h"

#include <gtest/gtest.h>

#include "alloc/cluster_bitmaps.h"
#include "alloc/cluster_claims.h"
#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/paint.h"

namespace vr::test {
namespace {

class MarkSegmentsTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(1000);  // one cluster per box
    Allocation.ComputedBitmap.ReDim(1000 / 8);
  }
  static RecordInfo File(Long clusters) {
    RecordInfo info;
    info.Clusters = clusters;
    return info;
  }
  static bool Bit(Long c) { return (Allocation.ComputedBitmap(c / 8) >> (c % 8)) & 1; }
  // What the scan does for each file: the allocation layer marks, the map
  // paints.
  static void PaintAndMark(const VbArray<Long>& lengths, const VbArray<Long>& lcns,
                           const RecordInfo& info, bool unmovable) {
    Mark_Segments_Used(lengths, lcns);
    Mark_Segments(lengths, lcns, info, unmovable);
  }
};

TEST_F(MarkSegmentsTest, CategoryFollowsThePrecedenceOfTheFlags) {
  RecordInfo info = File(10);
  EXPECT_EQ(Segment_Color(info, false), kColorFile);
  info.Clusters = 129;
  EXPECT_EQ(Segment_Color(info, false), kColorBigFile);
  info.Clusters = 128;  // not above BigFileClusters
  EXPECT_EQ(Segment_Color(info, false), kColorFile);
  info.Clusters = 500;
  info.Compressed = -1;
  EXPECT_EQ(Segment_Color(info, false), kColorCmprs);
  info.DosAttributes = 0x04 | 0x20;
  EXPECT_EQ(Segment_Color(info, false), kColorSys);
  info.IsDirectory = -1;
  EXPECT_EQ(Segment_Color(info, false), kColorFile);
  EXPECT_EQ(Segment_Color(info, true), kColorFixed);
  info.DosAttributes = 0x02;  // hidden only
  info.IsDirectory = 0;
  EXPECT_EQ(Segment_Color(info, false), kColorCmprs);
}

TEST_F(MarkSegmentsTest, TouchingSegmentsAreOneFragmentInTheCategoryColour) {
  auto [lengths, lcns] = Segments({{100, 3}, {103, 4}});
  PaintAndMark(lengths, lcns, File(7), false);
  for (Long c = 100; c < 107; ++c) {
    EXPECT_EQ(Stored(c), kColorFile) << c;
    EXPECT_TRUE(Bit(c)) << c;
  }
  EXPECT_EQ(Stored(107), 0);
  EXPECT_FALSE(Bit(99));
  EXPECT_FALSE(Bit(107));
}

TEST_F(MarkSegmentsTest, FragmentedFileIsFragUnlessUnmovable) {
  auto [lengths, lcns] = Segments({{200, 2}, {300, 2}});
  PaintAndMark(lengths, lcns, File(4), false);
  EXPECT_EQ(Stored(200), kColorFrag);
  EXPECT_EQ(Stored(301), kColorFrag);
  EXPECT_EQ(Stored(250), 0);
  EXPECT_TRUE(Bit(201));
  EXPECT_TRUE(Bit(300));
  EXPECT_FALSE(Bit(250));

  auto [l2, s2] = Segments({{400, 1}, {410, 1}});
  PaintAndMark(l2, s2, File(2), true);
  EXPECT_EQ(Stored(400), kColorFixed);
  EXPECT_EQ(Stored(410), kColorFixed);
}

TEST_F(MarkSegmentsTest, FragmentsNeverCoverASysBox) {
  Paint_Cluster(500, kColorSys);
  auto [lengths, lcns] = Segments({{499, 2}, {600, 1}});
  Mark_Segments(lengths, lcns, File(3), false);
  EXPECT_EQ(Stored(499), kColorFrag);
  EXPECT_EQ(Stored(500), kColorSys);
}

TEST_F(MarkSegmentsTest, BitsAcrossByteBoundaries) {
  auto [lengths, lcns] = Segments({{5, 16}});
  PaintAndMark(lengths, lcns, File(16), false);
  EXPECT_EQ(Allocation.ComputedBitmap(0), 0xE0);
  EXPECT_EQ(Allocation.ComputedBitmap(1), 0xFF);
  EXPECT_EQ(Allocation.ComputedBitmap(2), 0x1F);
  EXPECT_EQ(Allocation.ComputedBitmap(3), 0x00);
}

TEST_F(MarkSegmentsTest, SharedModeLeavesAnUnsizedComputedBitmapAlone) {
  VolumeSession.SharedMode = -1;
  Allocation.ComputedBitmap.ReDim(0);
  auto [lengths, lcns] = Segments({{700, 4}, {800, 1}});
  EXPECT_EQ(Mark_Segments_Used(lengths, lcns), kClaimFree);
  Mark_Segments(lengths, lcns, File(5), false);
  EXPECT_EQ(Allocation.ComputedBitmap(0), 0);
  EXPECT_EQ(Stored(702), kColorFrag);
}

TEST_F(MarkSegmentsTest, PaintingMarksNothing) {
  auto [lengths, lcns] = Segments({{5, 16}, {40, 3}});
  Mark_Segments(lengths, lcns, File(19), false);
  EXPECT_EQ(Stored(10), kColorFrag);
  for (int64_t k = 0; k <= Allocation.ComputedBitmap.UBound(); ++k)
    EXPECT_EQ(Allocation.ComputedBitmap(k), 0) << k;
}

// A cluster claimed twice is reported (the first such cluster), in shared
// mode too; a run past the bitmap is reported as outside it (exclusive only).
TEST_F(MarkSegmentsTest, ClustersClaimedTwiceAreReported) {
  for (const Integer shared : {Integer(0), Integer(-1)}) {
    SCOPED_TRACE(shared);
    VolumeSession.SharedMode = shared;
    Allocation.ComputedBitmap.ReDim(200);
    auto [l1, s1] = Segments({{20, 4}});
    EXPECT_EQ(Mark_Segments_Used(l1, s1), kClaimFree);
    auto [l2, s2] = Segments({{10, 12}, {30, 2}});
    EXPECT_EQ(Mark_Segments_Used(l2, s2), 20);
    Mark_Segments(l2, s2, File(14), false);
    EXPECT_EQ(Stored(10), kColorFrag);
    auto [l3, s3] = Segments({{8 * 201 - 2, 4}});
    EXPECT_EQ(Mark_Segments_Used(l3, s3), shared != 0 ? kClaimFree : kClaimOutside);
  }
}

TEST_F(MarkSegmentsTest, RecordWithoutSegmentsPaintsNothing) {
  VbArray<Long> lengths(0), lcns(0);
  Mark_Segments(lengths, lcns, File(0), false);
  EXPECT_TRUE(canvas.blocks.empty());
  EXPECT_EQ(Allocation.ComputedBitmap(0), 0);
}

}  // namespace
}  // namespace vr::test
