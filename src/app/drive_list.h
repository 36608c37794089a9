// The entries of the drive list `DrvUser`: every mapped drive as its
// lower-case letter, a colon and the volume label in brackets.
#pragma once

#include <string>
#include <vector>

namespace vr {

// "c: [LABEL]" per mapped drive in letter order; "c: []" when the volume has
// no label or cannot be read.
std::vector<std::string> DriveListEntries();

// Fills `DrvUser` with the entries (selection none).
void Fill_Drive_List();

// Index of the first entry whose first character is `letter`; -1 when none.
int Find_Drive_Entry(char letter);

}  // namespace vr
