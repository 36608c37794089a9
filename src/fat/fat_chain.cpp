#include "fat/fat_chain.h"

#include "fat/fat_table.h"
#include "volume/error_state.h"

namespace vr {

namespace {

void ChainFault(const std::string& text) {
  ErrorState.ErrorText = text;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
  ErrorState.Failed = kTrue;
}

void Trim(VbArray<Long>& lengths, VbArray<Long>& starts, Integer count) {
  lengths.ReDimPreserve(count);
  starts.ReDimPreserve(count);
}

}  // namespace

Long FAT_Chain(Long StartCluster, VbArray<Long>& Lengths, VbArray<Long>& Starts) {
  try {
    Lengths.ReDim(1);
    Starts.ReDim(1);
    Starts(1) = StartCluster;
    Integer i = 1;
    Long total = 0;
    Long c = StartCluster;
    // A damaged table can lead a chain back into itself. Brent's cycle
    // check keeps one cluster of the walk and compares every step with it,
    // moving it forward at doubling distances: a loop is found within about
    // twice the chain's length, at the cost of one comparison per cluster.
    Long mark = c;
    int64_t span = 1, steps = 0;
    for (;;) {
      if (c > MaxCluster || c < 2) {
        ChainFault("Invalid cluster");
        return 0;
      }
      const Long n = Fat_Next(c);
      if (n >= kFatReserved) {  // reserved, bad or end of chain: the chain ends at c
        Lengths(i) = c + 1 - Starts(i);
        total += Lengths(i);
        Trim(Lengths, Starts, i);
        return total;
      }
      if (n == kFatFree) {
        ChainFault("Invalid chain");
        Trim(Lengths, Starts, i);
        return total;
      }
      if (n != c + 1) {  // the segment ends at c
        Lengths(i) = c + 1 - Starts(i);
        total += Lengths(i);
        ++i;
        if (i > Lengths.UBound()) {
          const Long room = Long(i) + 100;  // the count itself is 16-bit, its room is not
          Lengths.ReDimPreserve(room);
          Starts.ReDimPreserve(room);
        }
        Starts(i) = n;
        if (i > kFatChainFragmentLimit) ChainFault("Fragments > 32000.");
      }
      c = n;
      if (c == mark) {
        ChainFault("Invalid chain");
        Trim(Lengths, Starts, i);
        return 0;
      }
      if (++steps == span) {
        mark = c;
        span *= 2;
        steps = 0;
      }
    }
  } catch (const RunError& e) {
    ErrorState.ErrorText = e.Description();
    ErrorState.ErrorWhere = "FAT_Chain";
    if (ErrorState.ErrorCount < 0x7FFF) ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
    ErrorState.Failed = kTrue;
    return 0;
  }
}

}  // namespace vr
