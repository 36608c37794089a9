// Validate: the files listed in the selected drive's checksum file read
// again and compared; changed and erased files are listed in `lstValErrs`,
// the checksum file is brought up to date and the findings are appended to
// the drive's check log.
#pragma once

#include "runtime/checked.h"
#include "tools/tool_window.h"

namespace vr {

// What a validation found.
struct ValidateResult {
  bool completed = false;  // it ran to its end without an error or a stop
  Long checked = 0;
  Long erased = 0;
  Long differences = 0;  // -1 after a run-time error
};

// The Validate command.
ValidateResult Timing_Validate(ToolWindow& window);

// Re-reads every file of the tree; a changed file gets its new checksum.
void Validate(Long& Checked, Long& Erased, Long& Differences, ToolWindow& window);

}  // namespace vr
