// The memory probe of a command: it answers for the memory asked, and takes
// none of it from the system until something writes there.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <utility>

#include "runtime/run_error.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

TEST(MemoryReserveTest, ReservesWithoutTouchingAndAnswersForItsBounds) {
  MemoryReserve probe(0);
  EXPECT_EQ(probe.UBound(), 0);
  // 64 MB: written, it would fault in 16,384 pages.
  const int64_t upper = (int64_t{16} << 20) - 1;
  const long before = MinorFaults();
  probe.ReDim(upper);
  EXPECT_EQ(probe.UBound(), upper);
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer's allocator touches what it hands out
  EXPECT_LT(MinorFaults() - before, 64);
#else
  (void)before;
#endif
  probe.ReDim(-1);
  EXPECT_EQ(probe.UBound(), -1);
  // A bound below -1 is a subscript error, memory that is not there error
  // 7; either way the probe is left as it was.
  probe.ReDim(10);
  for (const auto& [bound, error] : {std::pair<int64_t, int>{-2, kErrSubscript},
                                     std::pair<int64_t, int>{int64_t{1} << 60, kErrOutOfMemory}}) {
    try {
      probe.ReDim(bound);
      ADD_FAILURE() << "no error for " << bound;
    } catch (const RunError& e) {
      EXPECT_EQ(e.Number(), error);
    }
    EXPECT_EQ(probe.UBound(), 10);
  }
}

}  // namespace
}  // namespace vr
