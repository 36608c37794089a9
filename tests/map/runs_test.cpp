// Painting runs and segment lists: every box a run touches, once per box.
#include "map/runs.h"

#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/paint.h"
#include "runtime/bytes.h"

namespace vr::test {
namespace {

class RunPainting : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(12000);  // four clusters per box
    ASSERT_EQ(ClustersPerBox, 4);
  }
};

TEST_F(RunPainting, RunAcrossBoxBoundariesPaintsEveryBoxItTouches) {
  Redraw_BBBB(6, 3, kColorFile);  // clusters 3..8: boxes 0, 1, 2
  EXPECT_EQ(Stored(0), kColorFile);
  EXPECT_EQ(Stored(1), kColorFile);
  EXPECT_EQ(Stored(2), kColorFile);
  EXPECT_EQ(Stored(3), 0);
  EXPECT_EQ(DrawsOf(0), 1);
  EXPECT_EQ(DrawsOf(1), 1);
  EXPECT_EQ(DrawsOf(2), 1);
}

TEST_F(RunPainting, RunShorterThanABoxPaintsItOnce) {
  Redraw_BBBB(2, 5, kColorFrag);
  EXPECT_EQ(Stored(1), kColorFrag);
  EXPECT_EQ(canvas.blocks.size(), 1u);
}

TEST_F(RunPainting, LongRunCostsOneDrawPerBox) {
  Redraw_BBBB(4000, 0, kColorBigFile);
  EXPECT_EQ(canvas.blocks.size(), 1000u);
  EXPECT_EQ(Stored(999), kColorBigFile);
  EXPECT_EQ(Stored(1000), 0);
}

TEST_F(RunPainting, RunOfNoClustersPaintsNothing) {
  Redraw_BBBB(0, 4, kColorFile);  // must not touch cluster 3 (box 0)
  Redraw_BBBB(-3, 8, kColorFile);
  EXPECT_EQ(Stored(0), 0);
  EXPECT_EQ(Stored(1), 0);
  EXPECT_TRUE(canvas.blocks.empty());
}

TEST_F(RunPainting, RunPastTheEndOfTheVolumeStopsAtItsLastCluster) {
  Redraw_BBBB(100, 11990, kColorFile);
  EXPECT_EQ(Stored(2997), kColorFile);
  EXPECT_EQ(Stored(2999), kColorFile);
  EXPECT_EQ(Stored(3000), 0);
}

TEST_F(RunPainting, SegmentListSkipsEmptyEntries) {
  auto [lengths, lcns] = Segments({{40, 3}, {100, 0}, {200, 5}});
  Redraw_XXXX(lengths, lcns, kColorMoved);
  EXPECT_EQ(Stored(10), kColorMoved);
  EXPECT_EQ(Stored(25), 0);
  EXPECT_EQ(Stored(50), kColorMoved);
  EXPECT_EQ(Stored(51), kColorMoved);
  EXPECT_EQ(Stored(0), 0);  // element 0 is not a segment
}

class FatRunPainting : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(2000);  // one cluster per box
    VolumeSession.SectorsPerCluster = 2;
    VolumeSession.SystemSectors = 2 * 9 + 224 / 16;
    PutU16(VolumeSession.BootSector.Span(), 0x0E, 1);
  }
  // The first sector of cluster c with `reserved` sectors before the FATs.
  static Long SectorOf(Long c, int reserved) {
    return reserved + VolumeSession.SystemSectors + (c - 2) * VolumeSession.SectorsPerCluster;
  }
};

TEST_F(FatRunPainting, SectorPositionAndByteLengthGiveTheClusters) {
  FAT_Redraw_BBBB(3 * 2 * 512, SectorOf(10, 1), kColorMoved);
  EXPECT_EQ(Stored(9), 0);
  EXPECT_EQ(Stored(10), kColorMoved);
  EXPECT_EQ(Stored(12), kColorMoved);
  EXPECT_EQ(Stored(13), 0);
}

TEST_F(FatRunPainting, DataAreaFollowsTheReservedSectors) {
  PutU16(VolumeSession.BootSector.Span(), 0x0E, 4);
  FAT_Redraw_BBBB(2 * 512, SectorOf(50, 4), kColorMoving);
  EXPECT_EQ(Stored(49), 0);
  EXPECT_EQ(Stored(50), kColorMoving);
  EXPECT_EQ(Stored(51), 0);
}

TEST_F(FatRunPainting, LessThanAClusterOfBytesPaintsNothing) {
  FAT_Redraw_BBBB(512, SectorOf(10, 1), kColorMoved);
  EXPECT_EQ(Stored(9), 0);
  EXPECT_EQ(Stored(10), 0);
}

TEST_F(FatRunPainting, SegmentListFollowsTheFatRules) {
  FAT_Paint_Cluster(30, kColorSys);
  auto [lengths, starts] = Segments({{30, 2}});
  FAT_Redraw_XXXX(lengths, starts, kColorFile);
  EXPECT_EQ(Stored(30), kColorFile);
  EXPECT_EQ(Stored(31), kColorFile);
}

}  // namespace
}  // namespace vr::test
