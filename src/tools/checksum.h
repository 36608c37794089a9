// Checksum: every file of the selected drive read through the file system,
// a 16-bit checksum per file, and the whole tree kept in the drive's
// checksum file in the program's folder.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"
#include "tools/tool_window.h"

namespace vr {

// The Checksum command. True when the checksum file was written (the walk
// ended without an error and was not stopped).
bool Timing_Checksum(ToolWindow& window);

// Walks `Path` (folder `Index` of the tree) depth first: its files are
// checksummed in the order the file system lists them, then its subfolders
// are numbered one after another and walked in turn.
void CheckSum(const std::string& Path, Long Index, ToolWindow& window);

// Reads one file in chunks of at most 204800 bytes (an odd last chunk
// padded with one zero byte) and folds its checksum. A file that cannot be
// opened or read gets -1; `Size` is its length when that was obtained,
// else 0. A path that has vanished stops the run with "Drive error".
void ReadAndCheck(const std::string& Path, Integer& Sum, int64_t& Size);

// The letter of a drive-list entry ("c: [LABEL]" -> 'c'), lower case.
char Drive_Letter(const std::string& Text);

// The buffer the tools read files into (one chunk).
uint8_t* Tool_Buffer();

}  // namespace vr
