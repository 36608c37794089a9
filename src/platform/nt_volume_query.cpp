// The volume queries: label, serial number and file-system name, free and
// total clusters, and the reason the last volume was not recognised.
#include <algorithm>
#include <cstring>
#include <exception>

#include "platform/fs_driver.h"
#include "platform/nt_internal.h"
#include "platform/partitions.h"
#include "platform/platform.h"
#include "platform/platform_state.h"
#include "platform/volume_identify.h"

namespace nt {

using namespace detail;

namespace {

// The facts of a drive's volume, through its open stack or a transient one.
bool QueryVolume(const std::string& root, platform::VolumeFacts& facts,
                 std::shared_ptr<BlockDevice>& device, char& letter, DWORD& error) {
  platform::detail::lastFailure.clear();
  letter = 0;
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
    platform::detail::lastFailure =
        (source.memory ? std::string("(memory)") : source.path) + ": " + reason;
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

// What the drive's file-system driver reads from the volume's own
// structures (NTFS: the cluster bitmap and $Volume). STATUS_DEVICE_DATA_ERROR
// when a read failed, STATUS_UNRECOGNIZED_VOLUME when the driver refused the
// volume, STATUS_INVALID_DEVICE_REQUEST when no driver answers.
NTSTATUS DriverFacts(char letter, platform::FsVolumeFacts& facts) {
  facts = platform::FsVolumeFacts{};
  DWORD error = ERROR_SUCCESS;
  Volume* v = UseVolume(letter, error);
  if (v == nullptr) return STATUS_DEVICE_DATA_ERROR;
  NTSTATUS status = STATUS_SUCCESS;
  bool readFailed = false;
  FileSystemDriver* driver = DriverOf(*v, error, status, &readFailed);
  if (driver == nullptr) {
    if (readFailed) status = STATUS_DEVICE_DATA_ERROR;
  } else {
    try {
      status = driver->QueryVolume(facts);
    } catch (const std::exception&) {
      status = STATUS_DISK_CORRUPT_ERROR;
    }
  }
  ReleaseVolume(letter);
  return status;
}

// The platform counts free clusters itself where identification reads the
// allocation structures (the FAT, the ext superblock); NTFS keeps them in a
// bitmap file that only its driver reads.
bool DriverMeasures(const platform::VolumeFacts& facts) { return facts.fileSystem == "NTFS"; }

bool CopyText(const std::string& text, char* buffer, DWORD size) {
  if (buffer == nullptr) return true;
  if (text.size() + 1 > size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

BOOL GetDiskFreeSpaceA(const std::string& root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters) {
  platform::VolumeFacts facts;
  std::shared_ptr<BlockDevice> device;
  char letter = 0;
  DWORD error = ERROR_SUCCESS;
  if (!QueryVolume(root, facts, device, letter, error)) return Fail(error);
  uint64_t free = 0;
  if (DriverMeasures(facts)) {
    platform::FsVolumeFacts measured;
    const NTSTATUS status = DriverFacts(letter, measured);
    if (status == STATUS_DEVICE_DATA_ERROR) return Fail(ERROR_NOT_READY);
    if (status != STATUS_SUCCESS) return Fail(ERROR_UNRECOGNIZED_VOLUME);
    free = measured.freeClusters;
    facts.totalClusters = measured.totalClusters;
  } else {
    std::string reason;
    bool readFailed = false;
    if (!platform::CountFreeClusters(device, facts, free, reason, readFailed))
      return Fail(readFailed ? ERROR_NOT_READY : ERROR_UNRECOGNIZED_VOLUME);
  }
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
  char letter = 0;
  DWORD error = ERROR_SUCCESS;
  if (!QueryVolume(root, facts, device, letter, error)) return Fail(error);
  if (DriverMeasures(facts)) {
    // The label lives in $Volume, which the driver reads. A damaged NTFS
    // volume is still NTFS: it is named, without a label, and the
    // program's own checks report the damage.
    platform::FsVolumeFacts measured;
    const NTSTATUS status = DriverFacts(letter, measured);
    if (status == STATUS_DEVICE_DATA_ERROR) return Fail(ERROR_NOT_READY);
    facts.label = measured.label;
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

}  // namespace nt

namespace platform::detail {

std::string lastRefusal;
std::string lastFailure;

}  // namespace platform::detail

namespace platform {

std::string LastVolumeRefusal() { return detail::lastRefusal; }

std::string LastDriveFailure() { return detail::lastFailure; }

bool WholeDiskTable(char letter, PartitionTable& table) {
  detail::DriveSource source;
  if (!detail::SourceOf(letter, source) || source.memory || source.partition != 0 ||
      source.offsetSector >= 0)
    return false;
  return ReadPartitionTable(source.path, table) && !table.partitions.empty();
}

}  // namespace platform
