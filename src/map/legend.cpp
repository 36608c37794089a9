#include "map/legend.h"

#include "map/map_canvas.h"
#include "map/map_colors.h"
#include "map/swatches.h"
#include "volume/session.h"
#include "volume/shared_state.h"
#include "volume/ui.h"

namespace vr {

VbArray<Long> LegendX(15);
Integer LegendOnly;
Long MapCurrentX, MapCurrentY;

bool Defrag_Command() { return CheckedScan != 0 && DefragMode >= 0; }

void Clear_Map() {
  PicMap().Clear();
  MapCurrentX = 0;
  MapCurrentY = 0;
}

void Legend_Item(Integer Colour, const std::string& Text) {
  const Long begin = MapCurrentX;
  const Long x = MapCurrentX + 3;
  LegendX(Colour) = x;
  MapCurrentX = x;
  MapCanvas& canvas = PicMap();
  for (int j = 0; j < kSwatchSize; ++j)
    for (int i = 0; i < kSwatchSize; ++i) canvas.SetPixel(x + i, 3 + j, CheckerPixel(Colour, i, j));
  // A thin grey frame keeps every swatch visible against the white picture
  // ("Moving" is bright white itself); it lies in the gaps around the swatch.
  for (int k = -1; k <= kSwatchSize; ++k) {
    canvas.SetPixel(x + k, 2, kGray);
    canvas.SetPixel(x + k, 3 + kSwatchSize, kGray);
    canvas.SetPixel(x - 1, 3 + k, kGray);
    canvas.SetPixel(x + kSwatchSize, 3 + k, kGray);
  }
  // The print position is left at the last pixel set.
  MapCurrentX = x + (kSwatchSize - 1) + 3;
  MapCurrentY = 0;
  if (Text.empty()) {
    MapCurrentX = begin;
  } else {
    canvas.DrawText(MapCurrentX, MapCurrentY, Text, kBlack);
    MapCurrentX += canvas.TextWidth(Text);
  }
  if (LegendOnly == 0) Paint_Swatch(Colour);
}

Long Widest_Legend_Width(const std::function<int(const std::string&)>& textWidth) {
  Long right = 0;
  for (const char* word : {kLegendSys, kLegendFixed, kLegendFile, kLegendBigFile, kLegendCmprs,
                           kLegendFrag, kLegendMoving, kLegendMoved, kLegendEmpty, kLegendPartial})
    // As Legend_Item: 3 pixels, the swatch, 3 pixels, the word.
    right += 3 + (kSwatchSize - 1) + 3 + textWidth(word);
  return right;
}

void Draw_Legend_NTFS() {
  Clear_Map();
  Legend_Item(kColorSys, kLegendSys);
  Legend_Item(kColorFixed, kLegendFixed);
  Legend_Item(kColorFile, kLegendFile);
  Legend_Item(kColorBigFile, kLegendBigFile);
  Legend_Item(kColorCmprs, kLegendCmprs);
  Legend_Item(kColorFrag, kLegendFrag);
  if (Defrag_Command()) {
    Legend_Item(kColorMoving, kLegendMoving);
    Legend_Item(kColorMoved, kLegendMoved);
  } else {
    // No word: its swatch is needed for the scan's first painting, and the
    // next item takes its place.
    Legend_Item(kColorMoving, "");
  }
  Legend_Item(kColorEmpty, kLegendEmpty);
  if (Defrag_Command()) Legend_Item(kColorPartial, kLegendPartial);
}

void Draw_Legend_FAT() {
  Clear_Map();
  if (CheckedScan != 0) Legend_Item(kColorSys, kLegendSys);
  if (CheckedScan != 0 && VolumeSession.SharedMode != 0) Legend_Item(kColorFixed, kLegendFixed);
  Legend_Item(kColorFile, kLegendFile);
  Legend_Item(kColorBigFile, kLegendBigFile);
  Legend_Item(kColorFrag, kLegendFrag);
  if (Defrag_Command()) {
    Legend_Item(kColorMoving, kLegendMoving);
    Legend_Item(kColorMoved, kLegendMoved);
  }
  Legend_Item(kColorEmpty, kLegendEmpty);
  if (Defrag_Command()) Legend_Item(kColorPartial, kLegendPartial);
}

}  // namespace vr
