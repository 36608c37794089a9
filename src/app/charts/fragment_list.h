// The list of fragmented files: the engines put entries into the hidden list
// `Raw` while they scan; when the scan ends the map window moves them into
// `lstInuse`, spelled as the file system stores the names, and shows the
// frame "Fragmented files".
#pragma once

#include <string>

#include "runtime/checked.h"
#include "volume/ui.h"

namespace vr {

// An entry of `Raw`: the full path ("c:\dir\file.txt"), then " (", then
// what it is ("folder", a size text or another short word), then ")".
std::string Raw_Entry(const std::string& Path, const std::string& What);
// A file's entry with its size (512-byte sectors) as SizeText shows it.
std::string Raw_File_Entry(const std::string& Path, Long Sectors);
std::string Raw_Folder_Entry(const std::string& Path);
void Add_Raw(const std::string& Entry);

// Moves `Raw` into `lstInuse` (nothing when `Raw` is empty): closes the
// volume so that the paths can be looked up, shows the progress on the
// status lines of `window`, keeps `lstInuse` in alphabetical order, clears
// `Raw` and shows `frmInuse`.
void Move_Raw_List(StatusSurface& window);

// Looks `Path` up component by component and adds the names as stored on
// the disk, relative to the root, followed by `Tail`, to `lstInuse`. An
// entry whose file or folder is no longer there is dropped. Returns whether
// it was added.
bool Add_Real_Path(const std::string& Path, const std::string& Tail, bool Folder);

}  // namespace vr
