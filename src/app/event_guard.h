// Runs an event procedure: a run-time error that reaches the event loop (Qt's,
// or the console shell's) is reported in the message area instead of escaping.
#pragma once

#include <exception>

#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr {

template <typename F>
void Guard(F&& f) {
  try {
    f();
  } catch (const RunError& e) {
    ErrorState.Failed = kTrue;
    ReportError(e.Description());
  } catch (const std::exception& e) {
    ErrorState.Failed = kTrue;
    ReportError(e.what());
  }
}

}  // namespace vr
