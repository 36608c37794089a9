// The main window's side of the integrity tools: the window the tools work
// on (busy state, size chart, count label) and the Checksum menu mark.
#pragma once

#include "tools/tool_window.h"

namespace vr {

// The main window as the integrity tools see it.
ToolWindow& Tool_Window();

// The Checksum item's check mark follows the selected drive's checksum
// file; when there is one, Validate is enabled.
void Set_Checksum();

}  // namespace vr
