#include "map/mark_segments.h"

#include <cstdint>

#include "map/map_colors.h"
#include "map/runs.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

constexpr int kDosSystem = 0x04;

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
  if (Fragments(Lengths, Lcns) == 1) {
    Long total = 0;
    for (int64_t i = 1; i <= count; ++i) total += Lengths(i);
    Redraw_BBBB(total, Lcns(1), colour);
    return;
  }
  for (int64_t i = 1; i <= count; ++i) {
    Redraw_BBBB(Lengths(i), Lcns(i), Unmovable ? colour : kColorFrag);
  }
}

}  // namespace vr
