// The NT calls over the drive map: a handle table, raw volume handles with
// share modes, the volume lock and sector transfers, files and listings
// through the file-system drivers, and the system queries.
#include "platform/nt.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/fs_driver.h"
#include "platform/ntfs3g_device.h"
#include "platform/platform.h"
#include "platform/platform_state.h"
#include "platform/volume_identify.h"

namespace nt {

namespace {

using platform::BlockDevice;
using platform::DriverFile;
using platform::FileSystemDriver;
using platform::FsEntry;
using platform::detail::DriveSource;

constexpr DWORD kSectorBytes = 512;
constexpr DWORD ERROR_NOT_LOCKED = 158;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr HANDLE kCurrentProcess = -1;               // NT's pseudo-handle of the current process
constexpr DWORD kReadAccess = GENERIC_READ | 0x1;    // GENERIC_READ or FILE_READ_DATA
constexpr DWORD kWriteAccess = GENERIC_WRITE | 0x2;  // GENERIC_WRITE or FILE_WRITE_DATA

thread_local DWORD lastError = ERROR_SUCCESS;

// The device a driver works through: writes are refused while the program
// holds the volume locked or when the volume may not be changed.
class GateDevice : public BlockDevice {
 public:
  GateDevice(std::shared_ptr<BlockDevice> inner, std::shared_ptr<bool> locked)
      : inner_(std::move(inner)), locked_(std::move(locked)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    return inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    return !*locked_ && inner_->Write(offset, buffer, size);
  }
  bool Flush() override { return inner_->Flush(); }
  uint64_t Size() const override { return inner_->Size(); }
  bool ReadOnly() const override { return *locked_ || inner_->ReadOnly(); }

 private:
  std::shared_ptr<BlockDevice> inner_;
  std::shared_ptr<bool> locked_;
};

// A drive in use: its device stack, driver and lock. It lives while any
// handle on the drive is open.
struct Volume {
  DriveSource source;
  std::shared_ptr<BlockDevice> device;
  bool mounted = false;   // a block device mounted by the kernel: served read-only
  bool readOnly = false;  // the image or memory drive cannot be written
  HANDLE lockedBy = 0;
  std::shared_ptr<bool> locked = std::make_shared<bool>(false);
  std::unique_ptr<FileSystemDriver> driver;
  bool driverStale = false;  // the program wrote raw sectors since the driver last looked
  int handles = 0;
  struct stat stamp {};  // the image as it was when the last handle closed
  std::string faults;    // VODURU_FAULTS when the stack was built
};

std::string FaultSetting() {
  const char* env = std::getenv("VODURU_FAULTS");
  return env != nullptr ? env : "";
}

enum class Kind { kVolume, kFile, kFind };

struct Handle {
  Kind kind = Kind::kVolume;
  char letter = 0;
  DWORD access = 0;
  DWORD share = 0;
  uint64_t position = 0;
  int lockFd = -1;   // flock on the image: exclusive for share mode 0, else shared if free
  std::string path;  // files: normalised lower-case path on the volume
  std::unique_ptr<DriverFile> file;
  std::vector<FsEntry> found;  // find handles: the matches still to report
  size_t next = 0;
  bool pending = false;
  IO_STATUS_BLOCK* pendingBlock = nullptr;
  IO_STATUS_BLOCK pendingResult;
};

std::map<HANDLE, Handle>& Handles() {
  static std::map<HANDLE, Handle> handles;
  return handles;
}
std::map<char, Volume>& Volumes() {
  static std::map<char, Volume> volumes;
  return volumes;
}
HANDLE& LastHandle() {
  static HANDLE last = 0;
  return last;
}

BOOL Fail(DWORD error) {
  lastError = error;
  return FALSE;
}
HANDLE FailHandle(DWORD error) {
  lastError = error;
  return INVALID_HANDLE_VALUE;
}

Handle* Find(HANDLE h) {
  auto it = Handles().find(h);
  return it == Handles().end() ? nullptr : &it->second;
}

HANDLE NewHandle(Handle&& handle) {
  HANDLE& last = LastHandle();
  last += 4;  // never reused soon, so a stale handle is noticed
  Volumes()[handle.letter].handles++;
  Handles().emplace(last, std::move(handle));
  return last;
}

bool DeviceNumberMounted(const std::string& majorMinor) {
  std::ifstream info(platform::detail::MountInfoPath());
  std::string line;
  while (std::getline(info, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev;
    fields >> id >> parent >> dev;
    if (dev == majorMinor) return true;
  }
  return false;
}

// A block device is in use while the kernel has it mounted; so is an image
// file while a mounted loop device is backed by it.
bool IsMounted(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode))
    return DeviceNumberMounted(std::to_string(major(st.st_rdev)) + ":" +
                               std::to_string(minor(st.st_rdev)));
  if (!S_ISREG(st.st_mode)) return false;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  const std::string image = real;
  std::free(real);
  bool mounted = false;
  if (DIR* dir = ::opendir("/sys/block")) {
    while (const dirent* d = ::readdir(dir)) {
      const std::string name = d->d_name;
      if (name.rfind("loop", 0) != 0) continue;
      std::ifstream backing("/sys/block/" + name + "/loop/backing_file");
      std::string file, dev;
      if (!std::getline(backing, file) || file != image) continue;
      std::ifstream number("/sys/block/" + name + "/dev");
      if (std::getline(number, dev) && DeviceNumberMounted(dev)) mounted = true;
    }
    ::closedir(dir);
  }
  return mounted;
}

DWORD ErrorOfErrno(int err) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_NOT_READY;
  }
}

// Opens a drive's device stack. Image files are opened for writing when
// they can be; a mounted block device only for reading.
std::shared_ptr<BlockDevice> OpenStack(const DriveSource& source, bool& mounted, bool& readOnly,
                                       int& err) {
  err = 0;
  mounted = false;
  readOnly = false;
  std::shared_ptr<BlockDevice> base;
  if (source.memory) {
    base = source.memory;
    readOnly = source.memory->ReadOnly();
  } else {
    mounted = IsMounted(source.path);
    if (!mounted) base = platform::OpenFileDevice(source.path, true, err);
    if (!base && (mounted || err == EACCES || err == EROFS || err == EPERM)) {
      base = platform::OpenFileDevice(source.path, false, err);
      readOnly = !mounted;
    }
    if (!base) return nullptr;
  }
  return platform::detail::StackWrappers(source.letter, std::move(base));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// An idle volume (no handles) is kept with its driver, so that a run of
// file opens does not rebuild the driver each time. It is reused only while
// the drive map still names the same image and nothing else changed it.
bool StillValid(Volume& v) {
  DriveSource now;
  if (v.source.memory || !platform::detail::SourceOf(v.source.letter, now) || now.memory ||
      now.path != v.source.path)
    return false;
  struct stat st {};
  if (::stat(now.path.c_str(), &st) != 0 || !SameFile(st, v.stamp) ||
      IsMounted(now.path) != v.mounted || FaultSetting() != v.faults)
    return false;
  v.source = now;  // the busy files may have changed
  return true;
}

// The volume of a drive, opened if nothing holds it yet.
Volume* UseVolume(char letter, DWORD& error) {
  auto it = Volumes().find(letter);
  if (it != Volumes().end() && it->second.device) {
    if (it->second.handles > 0 || StillValid(it->second)) return &it->second;
    Volumes().erase(it);
  }
  DriveSource source;
  if (!platform::detail::SourceOf(letter, source)) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  Volume v;
  int err = 0;
  v.source = source;
  v.faults = FaultSetting();
  v.device = OpenStack(source, v.mounted, v.readOnly, err);
  if (!v.device) {
    error = ErrorOfErrno(err);
    return nullptr;
  }
  Volume& slot = Volumes()[letter];
  v.handles = slot.handles;
  slot = std::move(v);
  return &slot;
}

// Called when a handle on the drive closes or an open fails: a volume
// without handles becomes idle (kept, see StillValid) or, for memory
// drives, is dropped.
void ReleaseVolume(char letter) {
  auto it = Volumes().find(letter);
  if (it == Volumes().end() || it->second.handles > 0) return;
  Volume& v = it->second;
  if (!v.device || v.source.memory || ::stat(v.source.path.c_str(), &v.stamp) != 0)
    Volumes().erase(it);
}

bool ShareConflict(DWORD haveAccess, DWORD haveShare, DWORD wantAccess, DWORD wantShare) {
  const bool haveRead = haveAccess & kReadAccess, haveWrite = haveAccess & kWriteAccess;
  const bool wantRead = wantAccess & kReadAccess, wantWrite = wantAccess & kWriteAccess;
  return (wantRead && !(haveShare & FILE_SHARE_READ)) ||
         (wantWrite && !(haveShare & FILE_SHARE_WRITE)) ||
         (haveRead && !(wantShare & FILE_SHARE_READ)) ||
         (haveWrite && !(wantShare & FILE_SHARE_WRITE));
}

// "\\.\c:" -> 'c'; 0 when `name` is not a raw volume name.
char VolumeLetter(const std::string& name) {
  if (name.size() != 6 || name.compare(0, 4, "\\\\.\\") != 0 || name[5] != ':') return 0;
  const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(name[4])));
  return (l >= 'a' && l <= 'z') ? l : 0;
}

// "c:\dir\file" -> 'c' and "dir\file"; false when `name` is no drive path.
bool DrivePath(const std::string& name, char& letter, std::string& path) {
  if (name.size() < 2 || name[1] != ':' || !std::isalpha(static_cast<unsigned char>(name[0])))
    return false;
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return platform::detail::NormalisePath(name.substr(2), path);
}

// The driver of a volume, created when first needed.
FileSystemDriver* DriverOf(Volume& v, DWORD& error, NTSTATUS& status) {
  if (v.driver) {
    if (v.driverStale) {
      v.driver->Invalidate();
      v.driverStale = false;
    }
    return v.driver.get();
  }
  platform::VolumeFacts facts;
  std::string reason;
  const auto r = platform::IdentifyVolume(*v.device, facts, reason);
  if (r != platform::IdentifyResult::kOk) {
    error =
        r == platform::IdentifyResult::kReadFailed ? ERROR_NOT_READY : ERROR_UNRECOGNIZED_VOLUME;
    status = r == platform::IdentifyResult::kReadFailed ? STATUS_DEVICE_DATA_ERROR
                                                        : platform::STATUS_UNRECOGNIZED_VOLUME;
    return nullptr;
  }
  if (!platform::HasFileSystemDriver(facts.fileSystem)) {
    error = ERROR_NOT_SUPPORTED;
    status = STATUS_INVALID_DEVICE_REQUEST;
    return nullptr;
  }
  platform::DriverContext context;
  context.letter = v.source.letter;
  context.fileSystem = facts.fileSystem;
  context.device = std::make_shared<GateDevice>(v.device, v.locked);
  context.readOnly = v.mounted || v.readOnly;
  v.driver = platform::CreateFileSystemDriver(context, reason);
  if (!v.driver) {
    error = ERROR_UNRECOGNIZED_VOLUME;
    status = platform::STATUS_UNRECOGNIZED_VOLUME;
    return nullptr;
  }
  v.driverStale = false;
  return v.driver.get();
}

bool IsBusy(const Volume& v, const std::string& lowerPath) {
  for (const std::string& f : v.source.busyFiles)
    if (platform::detail::Lower(f) == lowerPath) return true;
  return false;
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
  if (exclusive && !source.memory && IsMounted(source.path))
    return FailHandle(ERROR_SHARING_VIOLATION);

  DWORD error = ERROR_SUCCESS;
  Volume* v = UseVolume(letter, error);
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

void CompletePending(Handle& h) {
  if (h.pending && h.pendingBlock != nullptr) *h.pendingBlock = h.pendingResult;
  h.pending = false;
  h.pendingBlock = nullptr;
}

void Unlock(Volume& v) {
  v.lockedBy = 0;
  *v.locked = false;
  // The program may have changed anything while it held the lock.
  if (v.driver) v.driver->Invalidate();
  v.driverStale = false;
}

void CloseEntry(std::map<HANDLE, Handle>::iterator it) {
  Handle& h = it->second;
  CompletePending(h);
  auto v = Volumes().find(h.letter);
  if (v != Volumes().end()) {
    if (v->second.lockedBy == it->first) Unlock(v->second);
    v->second.handles--;
  }
  if (h.lockFd >= 0) ::close(h.lockFd);  // releases the flock
  const char letter = h.letter;
  Handles().erase(it);
  ReleaseVolume(letter);
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

// The facts of a drive's volume, through its open stack or a transient one.
bool QueryVolume(const std::string& root, platform::VolumeFacts& facts,
                 std::shared_ptr<BlockDevice>& device, DWORD& error) {
  char letter = 0;
  std::string rest;
  if (!DrivePath(root, letter, rest) || !rest.empty()) {
    error = ERROR_INVALID_NAME;
    return false;
  }
  DriveSource source;
  if (!platform::detail::SourceOf(letter, source)) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  Volume* v = UseVolume(letter, error);
  if (v == nullptr) {
    error = ERROR_NOT_READY;  // like a drive without its medium
    return false;
  }
  device = v->device;
  ReleaseVolume(letter);
  std::string reason;
  const auto r = platform::IdentifyVolume(*device, facts, reason);
  if (r == platform::IdentifyResult::kReadFailed) {
    error = ERROR_NOT_READY;
    return false;
  }
  if (r == platform::IdentifyResult::kUnrecognized) {
    platform::detail::lastRefusal = reason;
    error = ERROR_UNRECOGNIZED_VOLUME;
    return false;
  }
  return true;
}

bool CopyText(const std::string& text, char* buffer, DWORD size) {
  if (buffer == nullptr) return true;
  if (text.size() + 1 > size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

HANDLE CreateFileA(const std::string& name, DWORD access, DWORD shareMode, void*, DWORD creation,
                   DWORD, HANDLE) {
  if (creation != OPEN_EXISTING) return FailHandle(ERROR_ACCESS_DENIED);  // nothing is created
  if (const char letter = VolumeLetter(name)) return OpenVolume(letter, access, shareMode);
  return OpenPath(name, access, shareMode);
}

BOOL CloseHandle(HANDLE h) {
  auto it = Handles().find(h);
  if (it == Handles().end() || it->second.kind == Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  CloseEntry(it);
  lastError = ERROR_SUCCESS;
  return TRUE;
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

DWORD WaitForSingleObject(HANDLE h, DWORD) {
  Handle* handle = Find(h);
  if (handle == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  CompletePending(*handle);
  return WAIT_OBJECT_0;
}

void Sleep(DWORD milliseconds) {
  if (platform::detail::VirtualSleep(milliseconds)) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

BOOL GetDiskFreeSpaceA(const std::string& root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters) {
  platform::VolumeFacts facts;
  std::shared_ptr<BlockDevice> device;
  DWORD error = ERROR_SUCCESS;
  if (!QueryVolume(root, facts, device, error)) return Fail(error);
  uint64_t free = 0;
  std::string reason;
  bool readFailed = false;
  if (!platform::CountFreeClusters(device, facts, free, reason, readFailed))
    return Fail(readFailed ? ERROR_NOT_READY : ERROR_UNRECOGNIZED_VOLUME);
  auto clamp = [](uint64_t n) { return static_cast<DWORD>(std::min<uint64_t>(n, 0xFFFFFFFFu)); };
  if (sectorsPerCluster != nullptr) *sectorsPerCluster = facts.sectorsPerCluster;
  if (bytesPerSector != nullptr) *bytesPerSector = kSectorBytes;
  if (freeClusters != nullptr) *freeClusters = clamp(free);
  if (totalClusters != nullptr) *totalClusters = clamp(facts.totalClusters);
  lastError = ERROR_SUCCESS;
  return TRUE;
}

BOOL GetVolumeInformationA(const std::string& root, char* volumeName, DWORD volumeNameSize,
                           DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fsFlags,
                           char* fsName, DWORD fsNameSize) {
  platform::VolumeFacts facts;
  std::shared_ptr<BlockDevice> device;
  DWORD error = ERROR_SUCCESS;
  if (!QueryVolume(root, facts, device, error)) return Fail(error);
  if (facts.fileSystem == "NTFS") {
    // The label lives in $Volume; libntfs-3g reads it.
    std::string reason;
    bool readFailed = false;
    auto volume = platform::Ntfs3gVolume::Mount(device, true, reason, &readFailed);
    if (!volume && readFailed) return Fail(ERROR_NOT_READY);
    // A damaged NTFS volume is still NTFS: it is named, without a label,
    // and the program's own checks report the damage.
    facts.label = volume ? volume->Label() : std::string();
  }
  if (!CopyText(facts.label, volumeName, volumeNameSize) ||
      !CopyText(facts.fileSystem, fsName, fsNameSize))
    return Fail(ERROR_MORE_DATA);
  if (serialNumber != nullptr) *serialNumber = facts.serialNumber;
  if (maxComponentLength != nullptr) *maxComponentLength = 255;
  // Case preserved and Unicode on disk; NTFS adds case-sensitive search,
  // ACLs and compression (0x1F, as NT 4.0 reports it).
  if (fsFlags != nullptr) *fsFlags = facts.fileSystem == "NTFS" ? 0x1F : 0x6;
  lastError = ERROR_SUCCESS;
  return TRUE;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  const auto& v = platform::detail::Version();
  info->dwMajorVersion = v.major;
  info->dwMinorVersion = v.minor;
  info->dwBuildNumber = v.build;
  info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%s", v.servicePack.c_str());
  lastError = ERROR_SUCCESS;
  return TRUE;
}

UINT GetSystemDirectoryA(char* buffer, UINT size) {
  // The program only shows and stores this text; it names NT's folder.
  static const std::string kSystem = "C:\\WINNT\\system32";
  if (buffer == nullptr || size < kSystem.size() + 1) return static_cast<UINT>(kSystem.size() + 1);
  std::memcpy(buffer, kSystem.c_str(), kSystem.size() + 1);
  return static_cast<UINT>(kSystem.size());
}

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
  io = IO_STATUS_BLOCK{};
  Handle* handle = Find(h);
  if (handle == nullptr || handle->kind == Kind::kFind) return io.Status = STATUS_INVALID_HANDLE;
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

HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) {
  if (process != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
  static const int startNice = ::getpriority(PRIO_PROCESS, 0);
  int nice = 0;
  if (priorityClass == NORMAL_PRIORITY_CLASS)
    nice = startNice;
  else if (priorityClass == HIGH_PRIORITY_CLASS)
    nice = startNice - 5;
  else
    return Fail(ERROR_INVALID_PARAMETER);
  // Raising the priority needs privileges Linux rarely grants; without them
  // the call still succeeds, as the program expects.
  ::setpriority(PRIO_PROCESS, 0, nice);
  lastError = ERROR_SUCCESS;
  return TRUE;
}

BOOL SetProcessWorkingSetSize(HANDLE process, uint64_t minimum, uint64_t maximum) {
  if (process != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
  if (minimum > maximum) return Fail(ERROR_INVALID_PARAMETER);
  lastError = ERROR_SUCCESS;
  return TRUE;
}

BOOL MessageBeep(UINT) {
  platform::detail::CountBeep();
  return TRUE;
}

}  // namespace nt

namespace platform::detail {

std::string lastRefusal;

void DropIdleVolumes() {
  auto& volumes = nt::Volumes();
  for (auto it = volumes.begin(); it != volumes.end();)
    it = it->second.handles > 0 ? std::next(it) : volumes.erase(it);
}

void CloseAllHandles() {
  auto& handles = nt::Handles();
  while (!handles.empty()) nt::CloseEntry(handles.begin());
  nt::Volumes().clear();
}

}  // namespace platform::detail

namespace platform {

std::string LastVolumeRefusal() { return detail::lastRefusal; }

}  // namespace platform
