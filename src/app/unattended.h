// The unattended runs: the classic drive-letter command line and the drive
// commands of an option command line.
#pragma once

#include <string>

namespace vr {

// True when a drive run of this process stopped on an error, was refused or
// could not save its map image.
extern bool RunFailed;

// The log of a command-line run: program folder & "/" & "VODURU.LOG".
std::string LogFilePath();

// The classic run of `CommandLine` (trimmed, not empty): each drive named is
// defragmented and packed in turn, then the log is written and the program
// ends. Returns true when the program was ended; false when nothing was
// collected for the log (no drive named), which leaves the window idle.
bool Classic_Run(const std::string& CommandLine);

// The drive commands of an option command line in the order given, then its
// classic words; ends the program with the exit code of the runs.
void Option_Run();

}  // namespace vr
