// The file-level calls, answered by the volume's file-system driver: files
// opened by path, attributes, wildcard listings (also of the program's own
// folder on the host), and the file-system control requests.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "platform/nt_internal.h"
#include "platform/platform_state.h"

namespace nt {

using namespace detail;

namespace {

bool IsBusy(const Volume& v, const std::string& lowerPath) {
  for (const std::string& f : v.source.busyFiles)
    if (platform::detail::Lower(f) == lowerPath) return true;
  return false;
}

FILETIME FileTime(uint64_t t) {
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(t);
  f.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return f;
}

void FillFindData(const FsEntry& e, WIN32_FIND_DATAA* data) {
  *data = WIN32_FIND_DATAA{};
  data->dwFileAttributes = e.attributes;
  data->ftCreationTime = FileTime(e.creationTime);
  data->ftLastAccessTime = FileTime(e.lastAccessTime);
  data->ftLastWriteTime = FileTime(e.lastWriteTime);
  data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(e.size);
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", e.name.c_str());
  std::snprintf(data->cAlternateFileName, sizeof data->cAlternateFileName, "%s",
                e.shortName.c_str());
}

// NT wildcard matching, case-insensitive: "*" any run, "?" one character;
// "*.*" matches every name (also names without a dot).
bool Matches(const std::string& pattern, const std::string& name) {
  if (pattern == "*" || pattern == "*.*") return true;
  const std::string p = platform::detail::Lower(pattern), n = platform::detail::Lower(name);
  size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

uint64_t UnixToFileTime(const struct timespec& t) {
  return (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
         static_cast<uint64_t>(t.tv_nsec) / 100;
}

// Attributes of a file of the host (the program's own folder).
bool HostEntry(const std::string& path, const std::string& name, FsEntry& e) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  e.name = name;
  e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  e.attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (::access(path.c_str(), W_OK) != 0) e.attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    e.attributes |= FILE_ATTRIBUTE_HIDDEN;
  e.lastWriteTime = UnixToFileTime(st.st_mtim);
  e.lastAccessTime = UnixToFileTime(st.st_atim);
  e.creationTime = UnixToFileTime(st.st_ctim);
  return true;
}

// The file or volume handle of a native call, with its status block
// cleared; null, with STATUS_INVALID_HANDLE in the block, for anything else.
Handle* NativeCallHandle(HANDLE h, IO_STATUS_BLOCK& io) {
  io = IO_STATUS_BLOCK{};
  Handle* handle = Find(h);
  if (handle != nullptr && handle->kind != Kind::kFind) return handle;
  io.Status = STATUS_INVALID_HANDLE;
  return nullptr;
}

}  // namespace

namespace detail {

HANDLE OpenPath(const std::string& name, DWORD access, DWORD share) {
  char letter = 0;
  std::string path;
  if (!DrivePath(name, letter, path)) return FailHandle(ERROR_PATH_NOT_FOUND);
  DriveSource source;
  if (!platform::detail::SourceOf(letter, source)) return FailHandle(ERROR_PATH_NOT_FOUND);
  auto existing = Volumes().find(letter);
  if (existing != Volumes().end() && existing->second.lockedBy != 0)
    return FailHandle(ERROR_ACCESS_DENIED);
  const std::string lower = platform::detail::Lower(path);
  for (const auto& [h, other] : Handles()) {
    if (other.letter != letter) continue;
    if (other.kind == Kind::kVolume && (other.share & 3) != 3)
      return FailHandle(ERROR_SHARING_VIOLATION);
    if (other.kind == Kind::kFile && other.path == lower &&
        ShareConflict(other.access, other.share, access, share))
      return FailHandle(ERROR_SHARING_VIOLATION);
  }
  DWORD error = ERROR_SUCCESS;
  Volume* v = UseVolume(letter, error);
  if (v == nullptr) return FailHandle(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
  // Files "other programs" hold open cannot be opened.
  if (IsBusy(*v, lower)) {
    ReleaseVolume(letter);
    return FailHandle(ERROR_SHARING_VIOLATION);
  }
  NTSTATUS status = STATUS_SUCCESS;
  FileSystemDriver* driver = DriverOf(*v, error, status);
  if (driver == nullptr) {
    ReleaseVolume(letter);
    return FailHandle(error);
  }
  // Files are served for reading; changes go through FSCTL_MOVE_FILE only.
  if (access & kWriteAccess) {
    ReleaseVolume(letter);
    return FailHandle(ERROR_ACCESS_DENIED);
  }
  Handle handle;
  handle.kind = Kind::kFile;
  handle.letter = letter;
  handle.access = access;
  handle.share = share;
  handle.path = lower;
  status = driver->Open(path, handle.file);
  if (status != STATUS_SUCCESS || !handle.file) {
    ReleaseVolume(letter);
    return FailHandle(status != STATUS_SUCCESS ? platform::Win32ErrorOf(status)
                                               : ERROR_FILE_NOT_FOUND);
  }
  lastError = ERROR_SUCCESS;
  return NewHandle(std::move(handle));
}

}  // namespace detail

DWORD GetFileAttributesA(const std::string& path) {
  char letter = 0;
  std::string rest;
  if (!DrivePath(path, letter, rest)) {
    FsEntry e;
    if (!HostEntry(path, "", e)) {
      lastError = ErrorOfErrno(errno);
      return INVALID_FILE_ATTRIBUTES;
    }
    lastError = ERROR_SUCCESS;
    return e.attributes;
  }
  DriveSource source;
  if (!platform::detail::SourceOf(letter, source)) {
    lastError = ERROR_PATH_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  auto open = Volumes().find(letter);
  if (open != Volumes().end() && open->second.lockedBy != 0) {
    lastError = ERROR_ACCESS_DENIED;
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD error = ERROR_SUCCESS;
  Volume* v = UseVolume(letter, error);
  if (v == nullptr) {
    lastError = error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
    return INVALID_FILE_ATTRIBUTES;
  }
  NTSTATUS status = STATUS_SUCCESS;
  FileSystemDriver* driver = DriverOf(*v, error, status);
  DWORD result = INVALID_FILE_ATTRIBUTES;
  if (driver == nullptr) {
    lastError = error;
  } else {
    std::unique_ptr<DriverFile> file;
    status = driver->Open(rest, file);
    if (status == STATUS_SUCCESS && file) {
      result = file->Entry().attributes;
      lastError = ERROR_SUCCESS;
    } else {
      lastError = platform::Win32ErrorOf(
          status != STATUS_SUCCESS ? status : platform::STATUS_OBJECT_NAME_NOT_FOUND);
    }
  }
  ReleaseVolume(letter);
  return result;
}

HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA* data) {
  char letter = 0;
  std::string rest;
  std::vector<FsEntry> entries;
  std::string name;
  if (DrivePath(pattern, letter, rest)) {
    const size_t cut = rest.rfind('\\');
    const std::string folder = cut == std::string::npos ? "" : rest.substr(0, cut);
    name = cut == std::string::npos ? rest : rest.substr(cut + 1);
    if (name.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    DriveSource source;
    if (!platform::detail::SourceOf(letter, source)) return FailHandle(ERROR_PATH_NOT_FOUND);
    auto open = Volumes().find(letter);
    if (open != Volumes().end() && open->second.lockedBy != 0)
      return FailHandle(ERROR_ACCESS_DENIED);
    for (const auto& [h, other] : Handles())
      if (other.letter == letter && other.kind == Kind::kVolume && (other.share & 3) != 3)
        return FailHandle(ERROR_SHARING_VIOLATION);
    DWORD error = ERROR_SUCCESS;
    Volume* v = UseVolume(letter, error);
    if (v == nullptr)
      return FailHandle(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    NTSTATUS status = STATUS_SUCCESS;
    FileSystemDriver* driver = DriverOf(*v, error, status);
    if (driver == nullptr) {
      ReleaseVolume(letter);
      return FailHandle(error);
    }
    status = driver->List(folder, entries);
    if (status != STATUS_SUCCESS) {
      ReleaseVolume(letter);
      return FailHandle(status == platform::STATUS_OBJECT_NAME_NOT_FOUND
                            ? ERROR_PATH_NOT_FOUND
                            : platform::Win32ErrorOf(status));
    }
    if (!folder.empty()) {
      FsEntry dot;
      dot.name = ".";
      dot.attributes = FILE_ATTRIBUTE_DIRECTORY;
      FsEntry dotdot = dot;
      dotdot.name = "..";
      entries.insert(entries.begin(), {dot, dotdot});
    }
  } else {
    // A folder of the host (the program's own folder): "/path/*.chk".
    const size_t cut = pattern.rfind('/');
    const std::string folder = cut == std::string::npos ? "." : pattern.substr(0, cut);
    name = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return FailHandle(ERROR_PATH_NOT_FOUND);
    while (const dirent* d = ::readdir(dir)) {
      FsEntry e;
      if (HostEntry(folder + "/" + d->d_name, d->d_name, e)) entries.push_back(e);
    }
    ::closedir(dir);
    letter = 0;
  }
  std::vector<FsEntry> found;
  for (const FsEntry& e : entries)
    if (Matches(name, e.name) || (!e.shortName.empty() && Matches(name, e.shortName)))
      found.push_back(e);
  if (found.empty()) {
    ReleaseVolume(letter);
    return FailHandle(ERROR_FILE_NOT_FOUND);
  }
  Handle handle;
  handle.kind = Kind::kFind;
  handle.letter = letter;
  handle.found = std::move(found);
  FillFindData(handle.found[0], data);
  handle.next = 1;
  lastError = ERROR_SUCCESS;
  return NewHandle(std::move(handle));
}

BOOL FindNextFileA(HANDLE h, WIN32_FIND_DATAA* data) {
  Handle* handle = Find(h);
  if (handle == nullptr || handle->kind != Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (handle->next >= handle->found.size()) return Fail(ERROR_NO_MORE_FILES);
  FillFindData(handle->found[handle->next++], data);
  lastError = ERROR_SUCCESS;
  return TRUE;
}

BOOL FindClose(HANDLE h) {
  auto it = Handles().find(h);
  if (it == Handles().end() || it->second.kind != Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  CloseEntry(it);
  lastError = ERROR_SUCCESS;
  return TRUE;
}

NTSTATUS NtFsControlFile(HANDLE h, HANDLE, void*, void*, IO_STATUS_BLOCK* ioStatus, DWORD code,
                         const void* in, DWORD inSize, void* out, DWORD outSize) {
  IO_STATUS_BLOCK scratch;
  IO_STATUS_BLOCK& io = ioStatus != nullptr ? *ioStatus : scratch;
  Handle* handle = NativeCallHandle(h, io);
  if (handle == nullptr) return io.Status;
  Volume& v = Volumes()[handle->letter];
  DWORD error = ERROR_SUCCESS;
  NTSTATUS status = STATUS_SUCCESS;
  FileSystemDriver* driver = DriverOf(v, error, status);
  if (driver == nullptr) return io.Status = status;
  platform::FsControlRequest request;
  request.code = code;
  request.in = in;
  request.inSize = inSize;
  request.out = out;
  request.outSize = outSize;
  request.file = handle->kind == Kind::kFile ? handle->file.get() : nullptr;
  const char letter = handle->letter;
  request.fileOfHandle = [letter](HANDLE fh) -> DriverFile* {
    Handle* f = Find(fh);
    return f != nullptr && f->kind == Kind::kFile && f->letter == letter ? f->file.get() : nullptr;
  };
  platform::FsControlResult result;
  try {
    result = driver->FsControl(request);
  } catch (const std::exception&) {
    // A damaged volume must end in an error status, not in the caller's lap.
    result = platform::FsControlResult{STATUS_DISK_CORRUPT_ERROR, 0, false};
  }
  if (result.pending) {
    handle->pending = true;
    handle->pendingBlock = ioStatus;
    handle->pendingResult = IO_STATUS_BLOCK{result.status, result.information};
    io.Status = STATUS_PENDING;
    return STATUS_PENDING;
  }
  io.Status = result.status;
  io.Information = result.information;
  return result.status;
}

NTSTATUS NtFlushBuffersFile(HANDLE h, IO_STATUS_BLOCK* ioStatus) {
  IO_STATUS_BLOCK scratch;
  IO_STATUS_BLOCK& io = ioStatus != nullptr ? *ioStatus : scratch;
  Handle* handle = NativeCallHandle(h, io);
  if (handle == nullptr) return io.Status;
  Volume& v = Volumes()[handle->letter];
  // A volume the program holds locked has no file system writing to it.
  if (!v.driver || v.lockedBy != 0) return io.Status = STATUS_SUCCESS;
  return io.Status = v.driver->Commit();
}

}  // namespace nt
