// The program: command line, platform set-up, the main window and its
// event loop. Returns the process exit code.
#pragma once

namespace vr {

int RunVoduru(int argc, char** argv);

}  // namespace vr
