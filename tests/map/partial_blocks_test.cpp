// The "Partial" pass over the free segments.
#include "map/partial_blocks.h"

#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"
#include "map/used_space.h"

namespace vr::test {
namespace {

class PartialBlocks : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    SizeMap(350050);  // 100 clusters per box; box 3500 holds 50 clusters
    ASSERT_EQ(ClustersPerBox, 100);
    Setup_Empty_Colors();
    canvas.Forget();
  }
};

TEST_F(PartialBlocks, PartlyFreeEmptyBoxesBecomePartial) {
  SetFree({{0, 50}, {100, 2}, {200, 3}, {300, 100}});
  Show_Partial_Blocks();
  EXPECT_EQ(Stored(0), kColorPartial);
  EXPECT_EQ(Shown(0), kColorPartial);
  EXPECT_EQ(Stored(1), kColorEmpty);  // 2 free: not more than 100 / 50
  EXPECT_EQ(Stored(2), kColorPartial);
  EXPECT_EQ(Stored(3), kColorEmpty);  // wholly free
  EXPECT_EQ(canvas.blocks.size(), 2u);
}

TEST_F(PartialBlocks, SegmentsAreSplitAtBoxBoundaries) {
  SetFree({{1050, 100}});
  Show_Partial_Blocks();
  EXPECT_EQ(Stored(10), kColorPartial);
  EXPECT_EQ(Stored(11), kColorPartial);
}

TEST_F(PartialBlocks, OnlyEmptyBoxesChange) {
  BoxColors(5) = kColorFile;
  SetFree({{500, 40}});
  Show_Partial_Blocks();
  EXPECT_EQ(Stored(5), kColorFile);
  EXPECT_TRUE(canvas.blocks.empty());
}

TEST_F(PartialBlocks, SegmentsBeforeTheCursorAreConsumed) {
  SetFree({{700, 40}, {900, 40}}, 2);
  Show_Partial_Blocks();
  EXPECT_EQ(Stored(7), kColorEmpty);
  EXPECT_EQ(Stored(9), kColorPartial);
}

TEST_F(PartialBlocks, IncompleteLastBoxIsNeverPartial) {
  SetFree({{350000, 30}});
  Show_Partial_Blocks();
  EXPECT_EQ(Stored(3500), kColorEmpty);
}

TEST_F(PartialBlocks, FatCountsFromItsFirstSegment) {
  SetFree({{1002, 10}}, 1);
  FAT_Show_Partial_Blocks();
  EXPECT_EQ(Stored(10), kColorPartial);
}

}  // namespace
}  // namespace vr::test
