// The windowed program: the Qt application, the main window and its event
// loop. The program loads it (with Qt Widgets and Gui) only when a window is
// shown or a picture is drawn; runs nobody sees never need it.
#pragma once

namespace vr {

// Runs the main window over the program's start-up; returns the exit code.
// The command line, settings, drive map and drivers are set up.
int Run_Windows(int argc, char** argv);

}  // namespace vr

// The entry the program looks up in the loaded windows module.
extern "C" int voduru_run_windows(int argc, char** argv);
