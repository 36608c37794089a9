#include "support/crash_replay.h"

#include <gtest/gtest.h>

namespace testsupport {

void ForEachCrashPoint(const std::vector<uint8_t>& before, const platform::WriteLogDevice& log,
                       const CrashChecker& check, const std::vector<size_t>& sample) {
  std::vector<size_t> points = sample;
  if (points.empty())
    for (size_t k = 0; k <= log.Log().size(); ++k) points.push_back(k);
  for (size_t k : points) {
    ASSERT_LE(k, log.Log().size()) << "a crash point past the last write";
    SCOPED_TRACE("stopped after write " + std::to_string(k) + " of " +
                 std::to_string(log.Log().size()));
    std::vector<uint8_t> volume = before;
    log.Replay(volume, k);
    check(k, volume);
  }
}

}  // namespace testsupport
