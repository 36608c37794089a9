// The tree of a drive as Checksum and Validate keep it: folders (each its
// own name and its parent's index; folder 0 is the drive itself, "c:"),
// files (name, folder, 16-bit checksum) and the bytes read.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

extern VbArray<std::string> TreeFolderNames;
extern VbArray<Long> TreeFolderParents;
extern Long TreeFolderCount;
extern VbArray<std::string> TreeFileNames;
extern VbArray<Long> TreeFileFolders;
extern VbArray<Integer> TreeFileSums;  // -1: the file could not be read
extern Long TreeFileCount;

// Bytes read by the running tool (single precision, as the summary shows it).
extern float TreeBytes;
// Set by a walk's error trap: no summary, no checksum file.
extern Integer DriveError;
// Set by Scan Files when a file could be opened but not read to its end.
extern Integer ReadError;

// A tree holding only folder 0, named `Drive`; folder arrays of 101 entries,
// file arrays of 1001.
void Start_Tree(const std::string& Drive);
// Appends a folder or a file, growing the arrays by 100 folders or 1000
// files when full; returns the new entry's index.
Long Add_Tree_Folder(const std::string& Name, Long Parent);
Long Add_Tree_File(const std::string& Name, Long Folder);
// The full path of file `j`: the folder names from folder 0 down, joined
// by "\".
std::string Tree_File_Path(Long j);
// Releases the arrays (folder 0 and the counts stay).
void Release_Tree();

}  // namespace vr
