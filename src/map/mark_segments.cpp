#include "map/mark_segments.h"

#include <cstdint>

#include "map/map_colors.h"
#include "map/runs.h"
#include "volume/cluster_claims.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

constexpr int kDosSystem = 0x04;

// Claims clusters Start .. Start + Length - 1 in ComputedBitmap; keeps the
// first fault met (a cluster claimed before, or a run outside the bitmap).
void Mark_Bits(Long Start, Long Length, int64_t& Fault) {
  const int64_t got = Claim_Run(ComputedBitmap, Start.Value(), Length.Value());
  if (got != kClaimFree && Fault == kClaimFree) Fault = got;
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

int64_t Mark_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
                      const RecordInfo& Info, bool Unmovable) {
  const int64_t count = Lengths.UBound();
  int64_t fault = kClaimFree;
  if (count < 1) return fault;
  const int colour = Segment_Color(Info, Unmovable);
  // Shared, the computed bitmap only serves the cross-link test: moves made
  // through the file system would free a shared cluster all the same.
  const bool shared = VolumeSession.SharedMode != 0;
  const bool marking = !shared || ComputedBitmap.size() > 0;
  if (Fragments(Lengths, Lcns) == 1) {
    Long total = 0;
    for (int64_t i = 1; i <= count; ++i) total += Lengths(i);
    if (marking) Mark_Bits(Lcns(1), total, fault);
    Redraw_BBBB(total, Lcns(1), colour);
    return shared && fault == kClaimOutside ? kClaimFree : fault;
  }
  for (int64_t i = 1; i <= count; ++i) {
    if (marking) Mark_Bits(Lcns(i), Lengths(i), fault);
    Redraw_BBBB(Lengths(i), Lcns(i), Unmovable ? colour : kColorFrag);
  }
  return shared && fault == kClaimOutside ? kClaimFree : fault;
}

}  // namespace vr
