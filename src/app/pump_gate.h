// When the window message queue is worth serving. Long loops call DoEvents
// per record; serving the queue costs system calls each time, so it is
// served only when it was last served at least kPumpIntervalUs ago. Esc and
// close requests still reach the stop flag within that time of the loop's
// next call.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace vr {

constexpr int64_t kPumpIntervalUs = 10000;  // 10 ms

class PumpGate {
 public:
  // `nowUs`: a monotonic clock in microseconds (tests pass their own).
  explicit PumpGate(std::function<int64_t()> nowUs = SteadyMicroseconds);
  // True when the queue is to be served now; the interval then starts anew.
  bool Due();
  void SetClock(std::function<int64_t()> nowUs) { nowUs_ = std::move(nowUs); }
  int64_t Served() const { return served_; }
  int64_t Skipped() const { return skipped_; }

  static int64_t SteadyMicroseconds();

 private:
  std::function<int64_t()> nowUs_;
  bool first_ = true;
  int64_t last_ = 0;
  int64_t served_ = 0, skipped_ = 0;
};

}  // namespace vr
