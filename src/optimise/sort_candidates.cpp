#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "optimise/passes.h"

namespace vr {

// The optimiser's shell sort: for each gap (n \ 2, halved down to 1) repeated
// sweeps swap the records `gap` apart that are out of order, each sweep
// ending where the last swap of the one before happened. A swap across the
// gap can carry a record past others of the same key, so each record also
// carries its place in the list given, and equal keys compare by that
// place: equal keys then keep their order, as every pass relies on.
void Sort_Candidates(std::vector<Candidate>& List) {
  const size_t n = List.size();
  if (n < 2) return;
  std::vector<uint32_t> place(n);
  for (size_t i = 0; i < n; ++i) place[i] = static_cast<uint32_t>(i);
  const auto before = [&](size_t a, size_t b) {
    const int32_t ka = List[a].Key, kb = List[b].Key;
    return ka < kb || (ka == kb && place[a] < place[b]);
  };
  for (size_t gap = n / 2; gap >= 1; gap /= 2) {
    size_t limit = n - gap;
    size_t last;
    do {
      last = 0;
      for (size_t i = 1; i <= limit; ++i) {
        if (before(i - 1 + gap, i - 1)) {
          std::swap(List[i - 1], List[i - 1 + gap]);
          std::swap(place[i - 1], place[i - 1 + gap]);
          last = i;
        }
      }
      limit = last > gap ? last - gap : 0;
    } while (last != 0);
  }
}

}  // namespace vr
