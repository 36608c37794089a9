// Scan Files: every file of the selected drive read from beginning to end
// through the file system, timed, with the size distribution chart.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"
#include "tools/tool_window.h"

namespace vr {

// The Scan Files command. True when the summary was printed for a complete
// run (no read or walk error, not stopped).
bool TimingD(ToolWindow& window);

// Walks `Path` depth first, reading every file; every folder visited
// counts in `Subdirs`, the root included.
void SubdirectoryD(const std::string& Path, Long& Subdirs, Long& Files, ToolWindow& window);

// Reads one file completely. A file that cannot be opened gives Size 0
// silently; one that cannot be read to its end writes "Errors: " & Path
// and sets ReadError.
void ReadData(const std::string& Path, int64_t& Size);

}  // namespace vr
