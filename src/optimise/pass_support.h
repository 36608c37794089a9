// What the defragment and pack passes share: the volume-in-use NTFS rule,
// the gaps chart, and the error exit that stops the run.
#pragma once

#include <string>

#include "runtime/checked.h"

namespace vr::pass {

// A volume in use on NTFS: the file system allocates in units of 16
// clusters there, so the passes round gaps and never fill small ones.
bool Shared_Ntfs();

// Free space from FreeCursor on, as the "Gaps" chart (nothing without
// charts).
void Gaps_Chart();

// The error exit of a pass: the run-time error's description when no text
// is recorded yet, Where when no place is; one error, and the run stops.
void Pass_Error_Exit(const std::string& Where, const std::string& Description);

}  // namespace vr::pass
