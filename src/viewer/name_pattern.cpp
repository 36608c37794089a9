#include "viewer/name_pattern.h"

#include <cstddef>
#include <vector>

namespace vr {

// Dynamic programming over the pattern, so a pattern with many stars takes
// time proportional to name length x pattern length, never exponential.
bool Pattern_Match(const std::string& Name, const std::string& Pattern) {
  const size_t n = Name.size();
  std::vector<char> row(n + 1, 0), next(n + 1, 0);
  row[0] = 1;
  for (const char p : Pattern) {
    next.assign(n + 1, 0);
    if (p == '*') {
      char reach = 0;
      for (size_t i = 0; i <= n; ++i) {
        reach = reach || row[i];
        next[i] = reach;
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        if (!row[i]) continue;
        const char c = Name[i];
        const bool ok = p == '?' || (p == '#' ? (c >= '0' && c <= '9') : c == p);
        if (ok) next[i + 1] = 1;
      }
    }
    row.swap(next);
  }
  return row[n] != 0;
}

}  // namespace vr
