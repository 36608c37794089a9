#include "app/pump_gate.h"

#include <chrono>

namespace vr {

PumpGate::PumpGate(std::function<int64_t()> nowUs) : nowUs_(std::move(nowUs)) {}

int64_t PumpGate::SteadyMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool PumpGate::Due() {
  const int64_t now = nowUs_();
  if (!first_ && now - last_ < kPumpIntervalUs) {
    ++skipped_;
    return false;
  }
  first_ = false;
  last_ = now;
  ++served_;
  return true;
}

}  // namespace vr
