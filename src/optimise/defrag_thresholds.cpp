// Which files each pass of the defragment pass tries: a size threshold that
// halves from 8 MB down, then every size.
#include "optimise/passes.h"
#include "volume/file_table.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

Long First_Threshold() {
  // 16,384 sectors (8 MB); a cluster larger than that starts at every size.
  const Long limit = Long(16384) / VolumeSession.SectorsPerCluster;
  return limit < 1 ? Long(1) : limit;
}

Long Next_Threshold(Long Limit, Integer& Pass) {
  Limit = Limit / 2;
  if (Limit == 0) return 0;
  Pass += 1;
  return Pass > 7 ? Long(1) : Limit;
}

bool Defrag_Tries(Long R, Long Limit, Long SmallestFailed) {
  if (FragmentState(R) <= 2 || MoveDelayed(R) != 0 || DoNotMove(R) != 0) return false;
  const Long n = ClusterCount(R);
  if (n < Limit || n >= SmallestFailed) return false;
  return n < HugeFileClusters || DefragHugeFiles != 0;
}

}  // namespace vr
