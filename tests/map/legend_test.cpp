// The legend rows of NTFS and FAT: words, colours, positions, swatches.
#include "map/legend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/map_colors.h"
#include "map/map_fixture.h"

namespace vr::test {
namespace {

using Words = std::vector<std::string>;

class LegendTest : public MapTest {
 protected:
  void Command(int checked, int defrag) {
    CheckedScan = checked;
    DefragMode = defrag;
  }
  // The swatch of colour c as drawn at its legend position.
  void ExpectSwatch(int c) {
    const int x = LegendX(c);
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 5; ++i)
        EXPECT_EQ(canvas.At(x + i, 3 + j), (i + j) % 2 ? c : (c | 8)) << c << " " << i << "," << j;
  }
};

TEST_F(LegendTest, NtfsViewHasNoMovingWordsButKeepsTheMovingSwatch) {
  Command(-1, -1);
  Draw_Legend_NTFS();
  EXPECT_EQ(canvas.Words(), (Words{"Sys", "Fixed", "File", "BigFile", "Cmprs", "Frag", "Empty"}));
  // The wordless item is drawn over by the next one.
  EXPECT_EQ(LegendX(kColorMoving), LegendX(kColorEmpty));
  for (int c :
       {kColorSys, kColorFixed, kColorFile, kColorBigFile, kColorCmprs, kColorFrag, kColorEmpty})
    ExpectSwatch(c);
}

TEST_F(LegendTest, NtfsDefragAddsMovingMovedAndPartial) {
  Command(-1, 0);
  Draw_Legend_NTFS();
  EXPECT_EQ(canvas.Words(), (Words{"Sys", "Fixed", "File", "BigFile", "Cmprs", "Frag", "Moving",
                                   "Moved", "Empty", "Partial"}));
  for (int c : {kColorMoving, kColorMoved, kColorEmpty, kColorPartial}) ExpectSwatch(c);
  EXPECT_LT(LegendX(kColorMoving), LegendX(kColorEmpty));
}

TEST_F(LegendTest, FatWordsDependOnTheCommandAndTheSharing) {
  Command(-1, -1);
  Draw_Legend_FAT();
  EXPECT_EQ(canvas.Words(), (Words{"Sys", "File", "BigFile", "Frag", "Empty"}));
  canvas.Forget();
  VolumeSession.SharedMode = -1;
  Draw_Legend_FAT();
  EXPECT_EQ(canvas.Words(), (Words{"Sys", "Fixed", "File", "BigFile", "Frag", "Empty"}));
  canvas.Forget();
  Command(0, -1);
  Draw_Legend_FAT();
  EXPECT_EQ(canvas.Words(), (Words{"File", "BigFile", "Frag", "Empty"}));
  canvas.Forget();
  VolumeSession.SharedMode = 0;
  Command(-1, 1);
  Draw_Legend_FAT();
  EXPECT_EQ(canvas.Words(),
            (Words{"Sys", "File", "BigFile", "Frag", "Moving", "Moved", "Empty", "Partial"}));
}

TEST_F(LegendTest, ItemsAreThreePixelsApartAndWordsAreBlackAtTheTop) {
  Command(-1, -1);
  Draw_Legend_NTFS();
  EXPECT_EQ(LegendX(kColorSys), 3);
  ASSERT_FALSE(canvas.texts.empty());
  EXPECT_EQ(canvas.texts[0].x, 3 + 4 + 3);
  // Next swatch: 3 after the word, which ends TextWidth after its start.
  EXPECT_EQ(LegendX(kColorFixed), 3 + 4 + 3 + canvas.TextWidth("Sys") + 3);
  for (const auto& t : canvas.texts) {
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.colour, 0);
  }
}

TEST_F(LegendTest, DrawingTheLegendClearsThePictureFirst) {
  canvas.SetPixel(300, 100, kColorFrag);
  Draw_Legend_NTFS();
  EXPECT_EQ(canvas.clears, 1);
  EXPECT_EQ(canvas.At(300, 100), RecordingCanvas::kBlank);
}

TEST_F(LegendTest, LegendOnlyLeavesTheSwatchStripAlone) {
  SwatchStrip.Fill(0);
  LegendOnly = -1;
  Draw_Legend_NTFS();
  EXPECT_EQ(SwatchStrip(5 * kColorFile + 1), 0);
  LegendOnly = 0;
  Draw_Legend_NTFS();
  EXPECT_EQ(SwatchStrip(5 * kColorFile + 1), kColorFile);
  EXPECT_EQ(SwatchStrip(5 * kColorFile), kColorFile | 8);
}

}  // namespace
}  // namespace vr::test
