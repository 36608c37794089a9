#include "map/mark_segments.h"

#include <cstdint>

#include "map/map_colors.h"
#include "map/runs.h"
#include "alloc/cluster_bitmaps.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

constexpr int kDosSystem = 0x04;

// Sets the bits of clusters Start .. Start + Length - 1 in ComputedBitmap.
// A run that leaves the bitmap is a subscript error, as any bad index is.
void Mark_Bits(Long Start, Long Length) {
  for (int64_t c = Start.Value(); c < int64_t{Start.Value()} + Length.Value(); ++c) {
    if (c % 8 == 0 && int64_t{Start.Value()} + Length.Value() - c >= 8) {
      ComputedBitmap(c / 8) = 0xFF;
      c += 7;
    } else {
      ComputedBitmap(c / 8) |= static_cast<uint8_t>(1u << (c % 8));
    }
  }
}

// 1 plus every segment that does not start where the one before ends.
int Fragments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  int n = 1;
  for (int64_t i = 2; i <= Lengths.UBound(); ++i)
    if (int64_t{Lcns(i).Value()} != int64_t{Lcns(i - 1).Value()} + Lengths(i - 1).Value()) ++n;
  return n;
}

}  // namespace

int Segment_Color(const RecordInfo& Info, bool Unmovable) {
  if (Unmovable) return kColorFixed;
  if (Info.IsDirectory != 0) return kColorFile;
  if ((Info.DosAttributes & kDosSystem) != 0) return kColorSys;
  if (Info.Compressed != 0) return kColorCmprs;
  if (Info.Clusters > BigFileClusters) return kColorBigFile;
  return kColorFile;
}

void Mark_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns, const RecordInfo& Info,
                   bool Unmovable) {
  const int64_t count = Lengths.UBound();
  if (count < 1) return;
  const int colour = Segment_Color(Info, Unmovable);
  const bool marking = VolumeSession.SharedMode == 0;
  if (Fragments(Lengths, Lcns) == 1) {
    Long total = 0;
    for (int64_t i = 1; i <= count; ++i) total += Lengths(i);
    if (marking) Mark_Bits(Lcns(1), total);
    Redraw_BBBB(total, Lcns(1), colour);
    return;
  }
  for (int64_t i = 1; i <= count; ++i) {
    if (marking) Mark_Bits(Lcns(i), Lengths(i));
    Redraw_BBBB(Lengths(i), Lcns(i), Unmovable ? colour : kColorFrag);
  }
}

}  // namespace vr
