// Box drawing from the swatch strip.
#include "map/swatches.h"

#include <gtest/gtest.h>

#include "map/map_colors.h"
#include "map/map_fixture.h"

namespace vr::test {
namespace {

using Swatches = MapTest;

TEST_F(Swatches, SmallFontBoxIsTheTopLeftFourByFourOfTheSwatch) {
  Draw_Box(76, kColorFixed);
  ASSERT_EQ(canvas.blocks.size(), 1u);
  const auto& b = canvas.blocks[0];
  EXPECT_EQ(b.x, BoxLeft(76));
  EXPECT_EQ(b.y, BoxTop(76));
  EXPECT_EQ(b.width, 4);
  EXPECT_EQ(b.height, 4);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(b.colours[j * 4 + i], CheckerPixel(kColorFixed, i, j));
  // The gap between boxes stays blank.
  EXPECT_EQ(canvas.At(BoxLeft(76) + 4, BoxTop(76)), RecordingCanvas::kBlank);
}

TEST_F(Swatches, BoxLargerThanTheSwatchRepeatsIt) {
  BoxSize = 7;
  BoxPitch = 8;
  canvas.Reset(MapWidth(), MapHeight());
  Draw_Box(0, kColorFile);
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 7; ++i)
      EXPECT_NE(canvas.At(2 + i, 12 + j), RecordingCanvas::kBlank) << i << "," << j;
  EXPECT_EQ(canvas.At(2 + 6, 12), CheckerPixel(kColorFile, 1, 0));
}

TEST_F(Swatches, MarkIsSolidBlackAndBadClustersSolidGrey) {
  Draw_Box(0, kColorMarked);
  Draw_Box(1, kColorBad);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(canvas.At(BoxLeft(0) + i, BoxTop(0) + j), 0);
      EXPECT_EQ(canvas.At(BoxLeft(1) + i, BoxTop(1) + j), kColorBad);
    }
}

}  // namespace
}  // namespace vr::test
