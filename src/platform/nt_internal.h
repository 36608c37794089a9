// Internal state of the NT calls, shared by the files that implement them:
// the handle table, the drives in use with their device stacks and drivers,
// and the helpers every group of calls needs. Not for use outside
// src/platform.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "platform/fs_driver.h"
#include "platform/nt.h"
#include "platform/platform_state.h"

namespace nt::detail {

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
constexpr DWORD kReadAccess = GENERIC_READ | 0x1;    // GENERIC_READ or FILE_READ_DATA
constexpr DWORD kWriteAccess = GENERIC_WRITE | 0x2;  // GENERIC_WRITE or FILE_WRITE_DATA

// The thread's last error (GetLastError).
extern thread_local DWORD lastError;

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

std::map<HANDLE, Handle>& Handles();
std::map<char, Volume>& Volumes();

// Set the last error and return the failure value.
BOOL Fail(DWORD error);
HANDLE FailHandle(DWORD error);

// The open handle `h`; null when there is none.
Handle* Find(HANDLE h);
// Enters a handle in the table and counts it on its drive.
HANDLE NewHandle(Handle&& handle);
// Closes a handle: completes its pending request, releases its lock and
// its flock, and lets its volume go idle.
void CloseEntry(std::map<HANDLE, Handle>::iterator it);

// True while the kernel has the block device (or a loop device backed by
// the image file) mounted. Asked once per open of a volume.
bool IsMounted(const std::string& path);
// How many times IsMounted ran (tests).
uint64_t& MountChecksRun();
enum class MountState { kUnknown, kMounted, kNotMounted };
DWORD ErrorOfErrno(int err);

// The volume of a drive, opened if nothing holds it yet; null with `error`.
// `known`: the mount state the caller just found (an open of the volume);
// an idle volume kept from before is rebuilt when it differs. File requests
// pass kUnknown and reuse the state found when the volume was opened.
Volume* UseVolume(char letter, DWORD& error, MountState known = MountState::kUnknown);
// Called when a handle on the drive closes or an open fails: a volume
// without handles becomes idle (kept while its image is unchanged) or, for
// memory drives, is dropped.
void ReleaseVolume(char letter);
// The driver of a volume, created when first needed. `readFailed` (when
// given) tells a driver that refused the volume because a read failed.
FileSystemDriver* DriverOf(Volume& v, DWORD& error, NTSTATUS& status, bool* readFailed = nullptr);
// Ends the program's lock; the driver re-reads the volume afterwards.
void Unlock(Volume& v);

// Whether an open with `want` access and share mode collides with one that has `have`.
bool ShareConflict(DWORD haveAccess, DWORD haveShare, DWORD wantAccess, DWORD wantShare);
// "c:\dir\file" -> 'c' and "dir\file"; false when `name` is no drive path.
bool DrivePath(const std::string& name, char& letter, std::string& path);
// Hands a pending file-system request's result to its status block.
void CompletePending(Handle& h);

// Opens a file on a drive through its driver (CreateFileA on a path).
HANDLE OpenPath(const std::string& name, DWORD access, DWORD share);

}  // namespace nt::detail
