#include "tools/drive_files.h"

#include <cctype>

#include "runtime/run_error.h"

namespace vr {

namespace {

// The handle of a directory search, closed when it goes out of scope.
struct Search {
  nt::HANDLE handle;
  ~Search() {
    if (handle != nt::INVALID_HANDLE_VALUE) nt::FindClose(handle);
  }
};

// The tools only ever name files of a drive ("c:\\..."); anything else
// (no drive selected) is a path that cannot be found.
void Require_Drive_Path(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
    Raise(kErrPathNotFound);
}

}  // namespace

void Raise_File_Error(nt::DWORD error) {
  switch (error) {
    case nt::ERROR_FILE_NOT_FOUND: Raise(kErrFileNotFound);
    case nt::ERROR_PATH_NOT_FOUND: Raise(kErrPathNotFound);
    case nt::ERROR_ACCESS_DENIED:
    case nt::ERROR_SHARING_VIOLATION:
    case nt::ERROR_LOCK_VIOLATION: Raise(kErrPathFileAccess);
    case nt::ERROR_NOT_ENOUGH_MEMORY: Raise(kErrOutOfMemory);
    case nt::ERROR_NOT_READY: Raise(71);
    default: Raise(kErrDeviceIo);
  }
}

void List_Folder(const std::string& Path,
                 const std::function<void(const nt::WIN32_FIND_DATAA&)>& visit) {
  Require_Drive_Path(Path);
  nt::WIN32_FIND_DATAA data;
  Search search{nt::FindFirstFileA(Path + "\\*.*", &data)};
  if (search.handle == nt::INVALID_HANDLE_VALUE) {
    const nt::DWORD error = nt::GetLastError();
    if (error == nt::ERROR_FILE_NOT_FOUND || error == nt::ERROR_NO_MORE_FILES) return;
    Raise_File_Error(error);
  }
  do {
    visit(data);
  } while (nt::FindNextFileA(search.handle, &data));
  const nt::DWORD error = nt::GetLastError();
  if (error != nt::ERROR_NO_MORE_FILES) Raise_File_Error(error);
}

bool IsSubdir(const nt::WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & nt::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Path_Exists(const std::string& Path) {
  Require_Drive_Path(Path);
  if (nt::GetFileAttributesA(Path) != nt::INVALID_FILE_ATTRIBUTES) return true;
  const nt::DWORD error = nt::GetLastError();
  return error != nt::ERROR_FILE_NOT_FOUND && error != nt::ERROR_PATH_NOT_FOUND;
}

DriveFile::DriveFile(const std::string& Path) {
  Require_Drive_Path(Path);
  handle_ = nt::CreateFileA(Path, nt::GENERIC_READ, nt::FILE_SHARE_READ | nt::FILE_SHARE_WRITE,
                            nullptr, nt::OPEN_EXISTING, 0, 0);
  if (handle_ == nt::INVALID_HANDLE_VALUE) Raise_File_Error(nt::GetLastError());
  nt::LONG high = 0;
  const nt::DWORD low = nt::SetFilePointer(handle_, 0, &high, nt::FILE_END);
  nt::DWORD error = nt::GetLastError();
  if (low == nt::INVALID_SET_FILE_POINTER && error != nt::ERROR_SUCCESS) {
    nt::CloseHandle(handle_);
    Raise_File_Error(error);
  }
  length_ = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
  high = 0;
  if (nt::SetFilePointer(handle_, 0, &high, nt::FILE_BEGIN) != 0) {
    error = nt::GetLastError();
    nt::CloseHandle(handle_);
    Raise_File_Error(error);
  }
}

DriveFile::~DriveFile() {
  if (handle_ != nt::INVALID_HANDLE_VALUE) nt::CloseHandle(handle_);
}

void DriveFile::Read(uint8_t* buffer, uint32_t count) {
  nt::DWORD got = 0;
  if (!nt::ReadFile(handle_, buffer, count, &got, nullptr)) Raise_File_Error(nt::GetLastError());
  // A file that ends before its length is a failed read.
  if (got != count) Raise(kErrDeviceIo);
}

}  // namespace vr
