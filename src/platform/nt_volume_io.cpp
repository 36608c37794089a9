// The raw volume calls: opening "\\.\c:" with NT's share modes, the
// volume lock, and sector-addressed seeks, reads and writes. Seeks and reads
// on file handles are answered here as well, through the file's driver.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>

#include "platform/nt_internal.h"
#include "platform/platform_state.h"

namespace nt {

using namespace detail;

namespace {

// "\\.\c:" -> 'c'; 0 when `name` is not a raw volume name.
char VolumeLetter(const std::string& name) {
  if (name.size() != 6 || name.compare(0, 4, "\\\\.\\") != 0 || name[5] != ':') return 0;
  const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(name[4])));
  return (l >= 'a' && l <= 'z') ? l : 0;
}

HANDLE OpenVolume(char letter, DWORD access, DWORD share) {
  DriveSource source;
  if (!platform::detail::SourceOf(letter, source)) return FailHandle(ERROR_FILE_NOT_FOUND);
  auto existing = Volumes().find(letter);
  if (existing != Volumes().end() && existing->second.lockedBy != 0)
    return FailHandle(ERROR_ACCESS_DENIED);
  // Other handles of this process: their share modes against ours.
  for (const auto& [h, other] : Handles()) {
    if (other.letter != letter || other.kind == Kind::kFind) continue;
    if (other.kind == Kind::kVolume && ShareConflict(other.access, other.share, access, share))
      return FailHandle(ERROR_SHARING_VIOLATION);
    // An open file keeps an exclusive volume open from succeeding.
    if (other.kind == Kind::kFile && (share & 3) != 3) return FailHandle(ERROR_SHARING_VIOLATION);
  }
  if (existing != Volumes().end() && existing->second.handles > 0 && (share & 3) != 3) {
    // Open find handles hold folders of the volume open.
    return FailHandle(ERROR_SHARING_VIOLATION);
  }
  const bool exclusive = (share & 3) != 3;
  if (exclusive && !source.busyFiles.empty()) return FailHandle(ERROR_SHARING_VIOLATION);
  // The one mount check of this open; requests on the handle reuse it. A
  // shared open of a volume other handles hold joins it as it is (its
  // state was found when it was opened), so the mount table is not read:
  // the optimiser reopens the volume before every move.
  const bool joins = !exclusive && existing != Volumes().end() && existing->second.handles > 0;
  const MountState mount = source.memory            ? MountState::kNotMounted
                           : joins                  ? MountState::kUnknown
                           : IsMounted(source.path) ? MountState::kMounted
                                                    : MountState::kNotMounted;
  if (exclusive && mount == MountState::kMounted) return FailHandle(ERROR_SHARING_VIOLATION);

  DWORD error = ERROR_SUCCESS;
  Volume* v = UseVolume(letter, error, mount);
  if (v == nullptr) return FailHandle(error);
  if ((access & kWriteAccess) && v->readOnly) {
    ReleaseVolume(letter);
    return FailHandle(ERROR_ACCESS_DENIED);
  }
  Handle handle;
  handle.kind = Kind::kVolume;
  handle.letter = letter;
  handle.access = access;
  handle.share = share;
  if (!source.memory) {
    // Another process holding the image shows through flock. A shared open
    // takes a shared lock when it can, so another process cannot take the
    // volume exclusively under it, but never fails for it.
    handle.lockFd = ::open(source.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle.lockFd >= 0 &&
        ::flock(handle.lockFd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
      ::close(handle.lockFd);
      handle.lockFd = -1;
      if (exclusive) {
        ReleaseVolume(letter);
        return FailHandle(ERROR_SHARING_VIOLATION);
      }
    }
    if (handle.lockFd < 0 && exclusive) {
      ReleaseVolume(letter);
      return FailHandle(ERROR_SHARING_VIOLATION);
    }
  }
  lastError = ERROR_SUCCESS;
  return NewHandle(std::move(handle));
}

}  // namespace

HANDLE CreateFileA(const std::string& name, DWORD access, DWORD shareMode, void*, DWORD creation,
                   DWORD, HANDLE) {
  if (creation != OPEN_EXISTING) return FailHandle(ERROR_ACCESS_DENIED);  // nothing is created
  if (const char letter = VolumeLetter(name)) return OpenVolume(letter, access, shareMode);
  return OpenPath(name, access, shareMode);
}

BOOL DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned, void*) {
  if (returned != nullptr) *returned = 0;
  Handle* handle = Find(h);
  if (handle == nullptr || handle->kind == Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  Volume& v = Volumes()[handle->letter];
  if (code == FSCTL_LOCK_VOLUME) {
    if (handle->kind != Kind::kVolume) return Fail(ERROR_INVALID_PARAMETER);
    if (v.lockedBy != 0) return Fail(ERROR_ACCESS_DENIED);
    // Locked only when nothing else has the volume open: no other handle of
    // ours, no busy file, no kernel mount, no other process on the image.
    if (v.handles > 1 || !v.source.busyFiles.empty() || v.mounted) return Fail(ERROR_ACCESS_DENIED);
    if (!v.source.memory) {
      if (handle->lockFd < 0) handle->lockFd = ::open(v.source.path.c_str(), O_RDONLY | O_CLOEXEC);
      if (handle->lockFd < 0 || ::flock(handle->lockFd, LOCK_EX | LOCK_NB) != 0) {
        // Keep the shared lock a shared open holds.
        if (handle->lockFd >= 0) ::flock(handle->lockFd, LOCK_SH | LOCK_NB);
        return Fail(ERROR_ACCESS_DENIED);
      }
    }
    if (v.driver) v.driver->Flush();
    v.lockedBy = h;
    *v.locked = true;
    lastError = ERROR_SUCCESS;
    return TRUE;
  }
  if (code == FSCTL_UNLOCK_VOLUME) {
    if (handle->kind != Kind::kVolume) return Fail(ERROR_INVALID_PARAMETER);
    if (v.lockedBy != h) return Fail(ERROR_NOT_LOCKED);
    Unlock(v);
    // An exclusive open keeps its exclusive flock; a shared one goes back to shared.
    if (handle->lockFd >= 0 && (handle->share & 3) == 3) ::flock(handle->lockFd, LOCK_SH | LOCK_NB);
    lastError = ERROR_SUCCESS;
    return TRUE;
  }
  // Any other control code is a file-system request.
  IO_STATUS_BLOCK io;
  NTSTATUS status = NtFsControlFile(h, 0, nullptr, nullptr, &io, code, in, inSize, out, outSize);
  if (status == STATUS_PENDING) {
    WaitForSingleObject(h, INFINITE);
    status = io.Status;
  }
  if (returned != nullptr) *returned = static_cast<DWORD>(io.Information);
  if (status < 0) return Fail(platform::Win32ErrorOf(status));
  lastError = ERROR_SUCCESS;
  return TRUE;
}

DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD method) {
  Handle* handle = Find(h);
  if (handle == nullptr || handle->kind == Kind::kFind) {
    lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  // With a high part the distance is the 64-bit value high:low; without,
  // the low part alone, signed.
  const int64_t distance =
      distanceHigh != nullptr
          ? static_cast<int64_t>(
                (static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                static_cast<uint32_t>(distanceLow))
          : static_cast<int64_t>(distanceLow);
  int64_t base = 0;
  if (method == FILE_CURRENT) {
    base = static_cast<int64_t>(handle->position);
  } else if (method == FILE_END) {
    base = handle->kind == Kind::kVolume
               ? static_cast<int64_t>(Volumes()[handle->letter].device->Size())
               : static_cast<int64_t>(handle->file->Entry().size);
  } else if (method != FILE_BEGIN) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  const int64_t target = base + distance;
  if (target < 0) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh == nullptr && target > 0xFFFFFFFELL) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  handle->position = static_cast<uint64_t>(target);
  if (distanceHigh != nullptr)
    *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  lastError = ERROR_SUCCESS;  // tells a low part of 0xFFFFFFFF from a failure
  return static_cast<DWORD>(target);
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, void*) {
  if (read != nullptr) *read = 0;
  Handle* handle = Find(h);
  if (handle == nullptr || handle->kind == Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (!(handle->access & kReadAccess)) return Fail(ERROR_ACCESS_DENIED);
  if (handle->kind == Kind::kFile) {
    // Files keep NT's meaning: fewer bytes at the end of the file is success.
    Volume& v = Volumes()[handle->letter];
    if (v.driverStale && v.driver) {
      v.driver->Invalidate();
      v.driverStale = false;
    }
    uint32_t got = 0;
    const NTSTATUS status = handle->file->Read(handle->position, buffer, toRead, got);
    if (status == STATUS_END_OF_FILE) {
      lastError = ERROR_SUCCESS;
      return TRUE;
    }
    if (status != STATUS_SUCCESS) return Fail(platform::Win32ErrorOf(status));
    handle->position += got;
    if (read != nullptr) *read = got;
    lastError = ERROR_SUCCESS;
    return TRUE;
  }
  // A volume transfers whole sectors at sector positions, and all of them.
  if (toRead % kSectorBytes != 0 || handle->position % kSectorBytes != 0)
    return Fail(ERROR_INVALID_PARAMETER);
  Volume& v = Volumes()[handle->letter];
  if (handle->position > v.device->Size() || toRead > v.device->Size() - handle->position)
    return Fail(ERROR_SECTOR_NOT_FOUND);
  if (toRead > 0 && !v.device->Read(handle->position, buffer, toRead))
    return Fail(ERROR_READ_FAULT);
  handle->position += toRead;
  if (read != nullptr) *read = toRead;
  lastError = ERROR_SUCCESS;
  return TRUE;
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, void*) {
  if (written != nullptr) *written = 0;
  Handle* handle = Find(h);
  if (handle == nullptr || handle->kind == Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (!(handle->access & kWriteAccess) || handle->kind != Kind::kVolume)
    return Fail(ERROR_ACCESS_DENIED);
  Volume& v = Volumes()[handle->letter];
  // No raw write behind a file system's back: the writer must hold the lock.
  if (v.lockedBy != h) return Fail(ERROR_ACCESS_DENIED);
  if (v.mounted || v.device->ReadOnly()) return Fail(ERROR_WRITE_PROTECT);
  if (toWrite % kSectorBytes != 0 || handle->position % kSectorBytes != 0)
    return Fail(ERROR_INVALID_PARAMETER);
  if (handle->position > v.device->Size() || toWrite > v.device->Size() - handle->position)
    return Fail(ERROR_SECTOR_NOT_FOUND);
  v.driverStale = true;
  if (toWrite > 0 && !v.device->Write(handle->position, buffer, toWrite))
    return Fail(ERROR_WRITE_FAULT);
  handle->position += toWrite;
  if (written != nullptr) *written = toWrite;
  lastError = ERROR_SUCCESS;
  return TRUE;
}

}  // namespace nt
