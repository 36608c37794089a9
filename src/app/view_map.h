// Drive identification and the dispatch of a volume command to a map window:
// the one procedure every volume command (Checked View, Fast View, Defrag,
// the command-line run) ends in.
#pragma once

#include <string>

namespace vr {

// Identifies the drive selected in the drive list, prints the drive status
// lines, opens the volume with the access the command needs, reads the boot
// sector, works out the map scale and memory, shows the map window of its
// file system modally, then closes the volume and shows the error summary.
void ViewMap();

// Reserves the working memory a map window needs; false (after telling the
// user) when it cannot be had.
bool Get_Mem(bool IsFat);
void ViewFatMap();
void ViewNtfsMap();
// Sectors per FILE record and per index block from the boot sector.
void Calc_Steps();

// True when the program was started with a non-empty command line.
extern bool CommandLineRun;

// The fatal stop of the main window (defined with its start-up).
void CrapOut(const std::string& Message);

}  // namespace vr
