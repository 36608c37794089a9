#include "bench_support.h"

#include <chrono>
#include <cstdlib>
#include <limits>

namespace bench {

double BestOf(int rounds, const std::function<void()>& work) {
  double best = std::numeric_limits<double>::max();
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

double BestOfCommand(int rounds, const std::string& command) {
  bool failed = false;
  const double best = BestOf(rounds, [&] {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) failed = true;
  });
  return failed ? -1 : best;
}

}  // namespace bench
