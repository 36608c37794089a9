// The file-system driver interface: what the operating system's driver of a
// volume kind answers (files by path, directory listings, attributes and the
// file-system control requests), and the registry through which the NTFS and
// FAT drivers plug in by file-system name.
//
// The platform owns share modes, busy files, handles and the volume lock; a
// driver only answers for the volume's contents. It works through the
// device it was created with, which refuses writes while the program holds
// the volume locked; before the lock it is asked to Flush(), after the
// unlock (and after raw writes by the program) to Invalidate() what it
// cached. A driver outlives its handles while its image stays unchanged, so
// that a run of file opens does not rebuild it each time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "platform/nt.h"

namespace platform {

// One directory entry as FindFirstFileA reports it. Times are NT FILETIME
// values (100 ns units since 1601-01-01 UTC); 0 when unknown.
struct FsEntry {
  std::string name;         // long name as stored on the disk
  std::string shortName;    // 8.3 name when it differs, else empty
  uint32_t attributes = 0;  // FILE_ATTRIBUTE_* (DIRECTORY for folders)
  uint64_t size = 0;        // data size in bytes (0 for folders)
  uint64_t creationTime = 0;
  uint64_t lastAccessTime = 0;
  uint64_t lastWriteTime = 0;
};

// A file or folder opened through a driver.
class DriverFile {
 public:
  virtual ~DriverFile() = default;
  // The directory entry of the file (name, attributes, size, dates).
  virtual FsEntry Entry() const = 0;
  // Reads up to `size` bytes from `offset`; `transferred` may be less at the
  // end of the file (0 at or past it). Any other shortfall is an error status.
  virtual nt::NTSTATUS Read(uint64_t offset, void* buffer, uint32_t size,
                            uint32_t& transferred) = 0;
};

// A file-system control request as NtFsControlFile passes it on.
struct FsControlRequest {
  nt::DWORD code = 0;
  const void* in = nullptr;
  nt::DWORD inSize = 0;
  void* out = nullptr;
  nt::DWORD outSize = 0;
  // The file the request was sent on; null when it was sent on the volume.
  DriverFile* file = nullptr;
  // Resolves a handle named inside the input buffer (FSCTL_MOVE_FILE) to the
  // file it stands for on this volume; null for any other handle.
  std::function<DriverFile*(nt::HANDLE)> fileOfHandle;
};

// The answer to a request. `information` is the byte count written to the
// output buffer. With `pending` set, NtFsControlFile answers STATUS_PENDING
// and the caller sees `status` only after waiting on the handle.
struct FsControlResult {
  nt::NTSTATUS status = nt::STATUS_INVALID_DEVICE_REQUEST;
  uint64_t information = 0;
  bool pending = false;
};

// What the volume queries (GetDiskFreeSpaceA, GetVolumeInformationA) take
// from a file system whose own structures the platform does not read.
struct FsVolumeFacts {
  uint64_t totalClusters = 0;  // clusters of the volume, as the file system counts them
  uint64_t freeClusters = 0;   // clear bits of its cluster bitmap
  std::string label;           // "" when the volume has none
};

// Everything a driver is created from.
struct DriverContext {
  char letter = 0;                      // lower-case drive letter
  std::string fileSystem;               // "NTFS", "FAT", ...
  std::shared_ptr<BlockDevice> device;  // the volume; refuses writes while locked
  bool readOnly = false;                // the volume may never be changed (mounted, read-only)
};

class FileSystemDriver {
 public:
  virtual ~FileSystemDriver() = default;
  // `path` is relative to the root, components joined by "\" ("" is the root
  // folder, "dir\file.txt" a file); the driver matches names as the file
  // system does (case-insensitive on NTFS and FAT). Answers STATUS_SUCCESS
  // and the file, or an error status (STATUS_OBJECT_NAME_NOT_FOUND etc.).
  virtual nt::NTSTATUS Open(const std::string& path, std::unique_ptr<DriverFile>& file) = 0;
  // The entries of a folder, without "." and ".." (the platform adds those
  // for folders other than the root, as NT reports them).
  virtual nt::NTSTATUS List(const std::string& folder, std::vector<FsEntry>& entries) = 0;
  // FSCTL_GET_NTFS_FILE_RECORD, FSCTL_GET_VOLUME_BITMAP,
  // FSCTL_GET_RETRIEVAL_POINTERS, FSCTL_GET_NTFS_VOLUME_DATA, FSCTL_MOVE_FILE.
  virtual FsControlResult FsControl(const FsControlRequest& request) = 0;
  // The volume's cluster counts and label. Drivers whose volumes the
  // platform measures itself (FAT) answer STATUS_INVALID_DEVICE_REQUEST;
  // a damaged structure is STATUS_DISK_CORRUPT_ERROR, a failed read
  // STATUS_DEVICE_DATA_ERROR.
  virtual nt::NTSTATUS QueryVolume(FsVolumeFacts& facts) {
    facts = FsVolumeFacts{};
    return nt::STATUS_INVALID_DEVICE_REQUEST;
  }
  // The volume changed behind the driver: drop every cached structure.
  virtual void Invalidate() = 0;
  // The program is about to lock the volume: finish every pending change
  // (a delayed release of clusters, buffered writes) now. After the lock the
  // driver's device refuses writes until the unlock.
  virtual void Flush() {}
  // Writes what the driver holds back in memory (NtFlushBuffersFile, and
  // the last handle on the volume closing); delayed releases of clusters
  // keep their time. STATUS_SUCCESS, or the status of a failed write.
  virtual nt::NTSTATUS Commit() { return nt::STATUS_SUCCESS; }
};

using DriverFactory = std::function<std::unique_ptr<FileSystemDriver>(const DriverContext& context,
                                                                      std::string& error)>;

// Registers the driver for a file-system name as GetVolumeInformationA
// reports it ("NTFS", "FAT"); a later registration replaces an earlier one.
void RegisterFileSystemDriver(const std::string& fileSystem, DriverFactory factory);
void UnregisterFileSystemDriver(const std::string& fileSystem);
bool HasFileSystemDriver(const std::string& fileSystem);
// Creates the driver registered for `context.fileSystem`; null with an
// explanation when none is registered or the driver refuses the volume.
std::unique_ptr<FileSystemDriver> CreateFileSystemDriver(const DriverContext& context,
                                                         std::string& error);

// NTSTATUS values the drivers answer besides those of nt.h.
constexpr nt::NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<nt::NTSTATUS>(0xC0000034u);
constexpr nt::NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = static_cast<nt::NTSTATUS>(0xC000003Au);
constexpr nt::NTSTATUS STATUS_SHARING_VIOLATION = static_cast<nt::NTSTATUS>(0xC0000043u);
constexpr nt::NTSTATUS STATUS_DISK_FULL = static_cast<nt::NTSTATUS>(0xC000007Fu);
constexpr nt::NTSTATUS STATUS_FILE_IS_A_DIRECTORY = static_cast<nt::NTSTATUS>(0xC00000BAu);
constexpr nt::NTSTATUS STATUS_NOT_A_DIRECTORY = static_cast<nt::NTSTATUS>(0xC0000103u);
constexpr nt::NTSTATUS STATUS_UNRECOGNIZED_VOLUME = static_cast<nt::NTSTATUS>(0xC000014Fu);

// The Win32 error GetLastError reports for an NTSTATUS (as NT's
// RtlNtStatusToDosError does for the codes drivers answer).
nt::DWORD Win32ErrorOf(nt::NTSTATUS status);

}  // namespace platform
