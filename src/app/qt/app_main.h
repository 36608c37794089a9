// The program: command line, settings, drive map and drivers; then a run
// nobody sees goes on in a console window, and everything else loads the
// windows module and runs the main window. Returns the process exit code.
#pragma once

namespace vr {

int RunVoduru(int argc, char** argv);

}  // namespace vr
