// The Hex View command of the Tools menu (Hex__Click, in commands.cpp):
// identifying and opening the selected drive for reading, and showing the
// viewer window. Also the headless --hex and --find runs.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace vr {

// Steps 2 to 5 of the command for the drive-list entry DrvUserText ("c:
// [LABEL]"): the file system (NTFS or FAT, else nothing happens), the size,
// the volume opened for reading, the boot sector, and on FAT the allocation
// table, on NTFS the record geometry. True when the viewer may open; the
// volume is then open on VolumeSession.VolumeHandle.
bool Open_Hex_Volume(const std::string& DrvUserText);

// Shows the viewer window NTBrimHex modally (installed by the main window);
// until one is installed the volume is closed again and nothing is shown.
using HexWindowOpener = std::function<void()>;
void SetHexWindowOpener(HexWindowOpener opener);

// The whole command, after the display was reset: open, show, close.
void Hex_View();

// Headless runs on drive Letter: --hex prints block Number (an MFT record on
// NTFS, a sector of the root directory on FAT) as the viewer's lines;
// --find prints the record numbers the search Search matches, one a line.
// Search is a Find-menu caption without "&", with "=answer" for the
// searches that ask ("FileName=*.txt", "Entry x0h=80"). Return the exit
// code (0 done, 1 the drive could not be viewed, 2 an unknown search).
int Hex_Command(char Letter, const std::string& Number, std::ostream& out, std::ostream& err);
int Find_Command(char Letter, const std::string& Search, std::ostream& out, std::ostream& err);
// Runs the requests in order; the exit code is the highest of theirs.
int Run_Viewer_Requests(const std::vector<ViewerRequest>& Requests, std::ostream& out,
                        std::ostream& err);

}  // namespace vr
