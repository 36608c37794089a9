// The files of a drive as the tools see them: through the file system's
// calls (FindFirstFileA, CreateFileA, ReadFile), never the raw device. A
// failure is raised as the run-time error the classic file statements gave
// for it (76 "Path not found", 53 "File not found", 57 "Device I/O error").
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/nt.h"

namespace vr {

// Raises the run-time error that stands for Win32 error `error`.
[[noreturn]] void Raise_File_Error(nt::DWORD error);

// Lists `Path` & "\*.*" (hidden, system and read-only entries included) and
// calls `visit` for each entry in the order the file system returns them.
// An empty folder has no entries; a folder that cannot be listed raises.
// The search is closed on every way out.
void List_Folder(const std::string& Path,
                 const std::function<void(const nt::WIN32_FIND_DATAA&)>& visit);

// True when a listed entry's attributes include the folder bit (16).
bool IsSubdir(const nt::WIN32_FIND_DATAA& entry);

// True when a file or folder of that path exists (false when the file
// system answers that there is none; other failures count as existing, so
// that the read that follows reports them).
bool Path_Exists(const std::string& Path);

// A file opened for binary reading in shared mode.
class DriveFile {
 public:
  // Raises when the file cannot be opened.
  explicit DriveFile(const std::string& Path);
  ~DriveFile();
  DriveFile(const DriveFile&) = delete;
  DriveFile& operator=(const DriveFile&) = delete;

  // The file's length in bytes.
  int64_t Length() const { return length_; }
  // Reads exactly `count` bytes at the current position; fewer is a failed
  // read and raises 57 "Device I/O error".
  void Read(uint8_t* buffer, uint32_t count);

 private:
  nt::HANDLE handle_ = nt::INVALID_HANDLE_VALUE;
  int64_t length_ = 0;
};

// The chunk the tools read at most at once.
constexpr uint32_t kToolChunk = 204800;

}  // namespace vr
