// The NTFS file table: parallel arrays indexed by MFT record number, filled
// by the scans and updated by the optimiser, and the folder table that turns
// a file's folder index into a path.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// FileFlags bits.
constexpr int kFlagSystem = 0x80;      // the DOS system attribute
constexpr int kFlagUnmovable = 0x40;   // an unmovable system object
constexpr int kFlagSecurity = 0x20;    // non-resident security descriptor
constexpr int kFlagFolder = 0x10;      // a folder
constexpr int kFlagCompressed = 0x08;  // compressed

extern VbArray<std::string> FileNames;  // first $FILE_NAME of the record
extern VbArray<uint8_t> FileFlags;
extern VbArray<Integer> FragmentState;  // fragments + 1; 0: not decoded yet
extern VbArray<Long> ClusterCount;
extern VbArray<Long> FirstLcn;
extern VbArray<uint8_t> DoNotMove;
extern VbArray<uint8_t> MoveDelayed;
extern VbArray<Integer> FolderIndex;  // index of the record's folder in FolderTable

struct FolderEntry {
  Integer Parent = -1;  // -1 for the root
  std::string Name;     // the root holds the drive name ("C:")
};

// Element 0 is the root; FolderCount is the last element in use.
extern VbArray<FolderEntry> FolderTable;
extern Integer FolderCount;

// Starts the table with the root element (Parent -1, Name the drive name)
// and room for 100 elements.
void Start_Folders(const std::string& RootName);
// Appends {Parent, Name}, growing the table by 100 elements when it is
// full; returns the new element's index. More than 32767 folders overflow.
Integer Add_Folder(Integer Parent, const std::string& Name);

// The folder's path: the names from the root down joined by "\" (C:\DIR\SUB).
std::string Folder_Path(Integer Index);

}  // namespace vr
