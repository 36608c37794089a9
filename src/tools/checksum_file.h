// The checksum file and the check log of a drive, in the program's folder.
//
// Checksum file ("Checksum." & the drive letter): text, lines ended by
// CR LF, values separated by commas, numbers in plain decimal, strings in
// double quotes:
//   TreeFolderCount,TreeFileCount
//   parent,"name"            one line per folder, folder 0 first ("c:")
//   folder,checksum,"name"   one line per file
// Check log ("CheckLog." & the letter): grows by the validation list of
// every validation that found differences or erased files.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vr {

std::string Checksum_File_Path(char Letter);
std::string Check_Log_Path(char Letter);

// Whether the drive has a checksum file (names compared without regard to
// case, as the file's presence was always tested).
bool Checksum_File_Exists(char Letter);

// Writes the tree in memory to `Path`, replacing the file only once the new
// one is complete. Raises a run-time error when it cannot be written.
void Write_Checksum_File(const std::string& Path);

// Reads the tree back from `Path`. `Pending` runs after the folder lines
// and every 512 file lines (the window's pending messages). A file that
// cannot be opened raises 53 "File not found"; one that ends early 62
// "Input past end of file"; a field that is not what it must be 13 "Type
// mismatch"; a folder index out of the tree's order 9 "Subscript out of
// range".
void Read_Checksum_File(const std::string& Path, const std::function<void()>& Pending);

// The file's last-written date and time, local time, "YYYY-MM-DD HH:MM:SS".
std::string File_Date_Time(const std::string& Path);

// Appends each entry as one line (CR LF) to the check log.
void Append_Check_Log(const std::string& Path, const std::vector<std::string>& Entries);

}  // namespace vr
