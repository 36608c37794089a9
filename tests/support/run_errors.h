// The number of the run-time error a call raises, 0 when it raises none.
#pragma once

#include "runtime/run_error.h"

namespace testsupport {

template <typename F>
int ErrorOf(F&& f) {
  try {
    f();
  } catch (const vr::RunError& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace testsupport
