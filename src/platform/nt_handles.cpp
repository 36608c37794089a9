// The handle table of the NT calls and the drives in use: each drive's
// device stack, its file-system driver and the program's lock on it, kept
// while handles are open and reused while the image stays unchanged.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/fs_driver.h"
#include "platform/io_counts.h"
#include "platform/nt_internal.h"
#include "platform/partitions.h"
#include "platform/platform_state.h"
#include "platform/volume_identify.h"

namespace nt::detail {

thread_local DWORD lastError = ERROR_SUCCESS;

namespace {

// The device a driver works through: writes are refused while the program
// holds the volume locked or when the volume may not be changed.
class GateDevice : public platform::ForwardingDevice {
 public:
  GateDevice(std::shared_ptr<BlockDevice> inner, std::shared_ptr<bool> locked)
      : ForwardingDevice(std::move(inner)), locked_(std::move(locked)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (inner_->Read(offset, buffer, size)) return true;
    readFailed_ = true;
    return false;
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    return !*locked_ && inner_->Write(offset, buffer, size);
  }
  bool ReadOnly() const override { return *locked_ || inner_->ReadOnly(); }
  // Whether a read through the gate ever failed.
  bool ReadFailed() const { return readFailed_; }

 private:
  std::shared_ptr<bool> locked_;
  bool readFailed_ = false;
};

std::string FaultSetting() {
  const char* env = std::getenv("VODURU_FAULTS");
  return env != nullptr ? env : "";
}

HANDLE& LastHandle() {
  static HANDLE last = 0;
  return last;
}

// The devices (major:minor) the kernel has mounted, from the mount table.
std::set<std::string> MountedDevices() {
  std::set<std::string> devices;
  std::ifstream info(platform::detail::MountInfoPath());
  std::string line;
  while (std::getline(info, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev;
    fields >> id >> parent >> dev;
    if (!dev.empty()) devices.insert(dev);
  }
  return devices;
}

// A drive map entry that picks a partition of a whole disk: the partition
// device takes the disk's place, so every read and write stays inside it.
bool PickPartition(const DriveSource& source, std::shared_ptr<BlockDevice>& base) {
  if (source.partition == 0 && source.offsetSector < 0) return true;
  uint64_t start = 0, length = 0;
  std::string reason;
  if (!platform::ChoosePartition(source.path, base->Size(), source.partition, source.offsetSector,
                                 start, length, reason)) {
    platform::detail::lastFailure = source.path + ": " + reason;
    base.reset();
    return false;
  }
  base = std::make_shared<platform::PartitionDevice>(std::move(base), start, length);
  return true;
}

// Opens a drive's device stack. Image files are opened for writing when
// they can be; a mounted block device only for reading.
// `known`: the mount state the caller just found, or kUnknown to ask here.
std::shared_ptr<BlockDevice> OpenStack(const DriveSource& source, MountState known, bool& mounted,
                                       bool& readOnly, int& err) {
  err = 0;
  mounted = false;
  readOnly = false;
  std::shared_ptr<BlockDevice> base;
  if (source.memory) {
    base = source.memory;
    readOnly = source.memory->ReadOnly();
  } else {
    mounted =
        known == MountState::kUnknown ? IsMounted(source.path) : known == MountState::kMounted;
    if (!mounted) base = platform::OpenFileDevice(source.path, true, err);
    if (!base && (mounted || err == EACCES || err == EROFS || err == EPERM)) {
      base = platform::OpenFileDevice(source.path, false, err);
      readOnly = !mounted;
    }
    if (!base) {
      platform::detail::lastFailure = source.path + ": " + std::strerror(err);
      return nullptr;
    }
    if (!PickPartition(source, base)) {
      err = EINVAL;
      return nullptr;
    }
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
// Whether the kernel mounted it is asked when a volume is opened (the
// caller's `known`), not on every file request.
bool StillValid(Volume& v, MountState known) {
  DriveSource now;
  if (v.source.memory || !platform::detail::SourceOf(v.source.letter, now) || now.memory ||
      !now.SameVolume(v.source))
    return false;
  struct stat st {};
  if (::stat(now.path.c_str(), &st) != 0 || !SameFile(st, v.stamp) ||
      (known != MountState::kUnknown && (known == MountState::kMounted) != v.mounted) ||
      FaultSetting() != v.faults)
    return false;
  v.source = now;  // the busy files may have changed
  return true;
}

}  // namespace

std::map<HANDLE, Handle>& Handles() {
  static std::map<HANDLE, Handle> handles;
  return handles;
}
std::map<char, Volume>& Volumes() {
  // A volume's driver may still write as the program ends (clusters whose
  // flush delay has not passed are freed then), through the transfer counts
  // of its device: those are built first, so they outlive the volumes.
  static std::map<char, Volume> volumes = (platform::TransferCounts(0), std::map<char, Volume>{});
  return volumes;
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

// A block device is in use while the kernel has it mounted; so is an image
// file while a mounted loop device is backed by it. One read of the mount
// table; for an image, the backing file of each mounted device that is a
// loop device (devices of major 0 are the kernel's own: proc, tmpfs, ...).
bool IsMounted(const std::string& path) {
  ++MountChecksRun();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) return false;
  const std::set<std::string> devices = MountedDevices();
  if (S_ISBLK(st.st_mode))
    return devices.count(std::to_string(major(st.st_rdev)) + ":" +
                         std::to_string(minor(st.st_rdev))) != 0;
  std::string image;
  for (const std::string& dev : devices) {
    if (dev.rfind("0:", 0) == 0) continue;
    std::ifstream backing("/sys/dev/block/" + dev + "/loop/backing_file");
    std::string file;
    if (!std::getline(backing, file)) continue;
    if (image.empty()) {
      char* real = ::realpath(path.c_str(), nullptr);
      if (real == nullptr) return false;
      image = real;
      std::free(real);
    }
    if (file == image) return true;
  }
  return false;
}

uint64_t& MountChecksRun() {
  static uint64_t checks = 0;
  return checks;
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

// The volume of a drive, opened if nothing holds it yet.
Volume* UseVolume(char letter, DWORD& error, MountState known) {
  auto it = Volumes().find(letter);
  if (it != Volumes().end() && it->second.device) {
    if (it->second.handles > 0 || StillValid(it->second, known)) return &it->second;
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
  v.device = OpenStack(source, known, v.mounted, v.readOnly, err);
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
  // An idle volume's driver stays, but holds nothing back: other programs
  // may read the volume now.
  if (v.driver) v.driver->Commit();
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

// "c:\dir\file" -> 'c' and "dir\file"; false when `name` is no drive path.
bool DrivePath(const std::string& name, char& letter, std::string& path) {
  if (name.size() < 2 || name[1] != ':' || !std::isalpha(static_cast<unsigned char>(name[0])))
    return false;
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return platform::detail::NormalisePath(name.substr(2), path);
}

// The driver of a volume, created when first needed.
FileSystemDriver* DriverOf(Volume& v, DWORD& error, NTSTATUS& status, bool* readFailed) {
  if (readFailed != nullptr) *readFailed = false;
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
  auto gate = std::make_shared<GateDevice>(v.device, v.locked);
  context.device = gate;
  context.readOnly = v.mounted || v.readOnly;
  v.driver = platform::CreateFileSystemDriver(context, reason);
  if (!v.driver) {
    if (readFailed != nullptr) *readFailed = gate->ReadFailed();
    error = ERROR_UNRECOGNIZED_VOLUME;
    status = platform::STATUS_UNRECOGNIZED_VOLUME;
    return nullptr;
  }
  v.driverStale = false;
  return v.driver.get();
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

}  // namespace nt::detail

namespace nt {

using namespace detail;

BOOL CloseHandle(HANDLE h) {
  auto it = Handles().find(h);
  if (it == Handles().end() || it->second.kind == Kind::kFind) return Fail(ERROR_INVALID_HANDLE);
  CloseEntry(it);
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

}  // namespace nt

namespace platform::detail {

void DropIdleVolumes() {
  auto& volumes = nt::detail::Volumes();
  for (auto it = volumes.begin(); it != volumes.end();)
    it = it->second.handles > 0 ? std::next(it) : volumes.erase(it);
}

void CloseAllHandles() {
  auto& handles = nt::detail::Handles();
  while (!handles.empty()) nt::detail::CloseEntry(handles.begin());
  nt::detail::Volumes().clear();
}

}  // namespace platform::detail
