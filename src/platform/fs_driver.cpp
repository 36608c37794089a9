// The registry of file-system drivers and the status-to-error mapping.
#include "platform/fs_driver.h"

#include <map>

namespace platform {

namespace {

std::map<std::string, DriverFactory>& Registry() {
  static std::map<std::string, DriverFactory> registry;
  return registry;
}

}  // namespace

void RegisterFileSystemDriver(const std::string& fileSystem, DriverFactory factory) {
  Registry()[fileSystem] = std::move(factory);
}

void UnregisterFileSystemDriver(const std::string& fileSystem) { Registry().erase(fileSystem); }

bool HasFileSystemDriver(const std::string& fileSystem) {
  return Registry().count(fileSystem) != 0;
}

std::unique_ptr<FileSystemDriver> CreateFileSystemDriver(const DriverContext& context,
                                                         std::string& error) {
  auto it = Registry().find(context.fileSystem);
  if (it == Registry().end()) {
    error = "No file-system driver for " + context.fileSystem;
    return nullptr;
  }
  auto driver = it->second(context, error);
  if (!driver && error.empty()) error = "The " + context.fileSystem + " driver refused the volume";
  return driver;
}

nt::DWORD Win32ErrorOf(nt::NTSTATUS status) {
  switch (status) {
    case nt::STATUS_SUCCESS: return nt::ERROR_SUCCESS;
    case nt::STATUS_BUFFER_OVERFLOW: return nt::ERROR_MORE_DATA;
    case nt::STATUS_NO_MORE_FILES: return nt::ERROR_NO_MORE_FILES;
    case nt::STATUS_INVALID_HANDLE: return nt::ERROR_INVALID_HANDLE;
    case nt::STATUS_INVALID_PARAMETER: return nt::ERROR_INVALID_PARAMETER;
    case nt::STATUS_INVALID_DEVICE_REQUEST: return 1;  // ERROR_INVALID_FUNCTION
    case nt::STATUS_END_OF_FILE: return nt::ERROR_HANDLE_EOF;
    case nt::STATUS_ALREADY_COMMITTED: return nt::ERROR_ACCESS_DENIED;
    case nt::STATUS_ACCESS_DENIED: return nt::ERROR_ACCESS_DENIED;
    case nt::STATUS_BUFFER_TOO_SMALL: return 122;     // ERROR_INSUFFICIENT_BUFFER
    case nt::STATUS_DISK_CORRUPT_ERROR: return 1393;  // ERROR_DISK_CORRUPT
    case nt::STATUS_DEVICE_DATA_ERROR: return 23;     // ERROR_CRC
    case nt::STATUS_MEDIA_WRITE_PROTECTED: return nt::ERROR_WRITE_PROTECT;
    case nt::STATUS_NOT_SUPPORTED: return nt::ERROR_NOT_SUPPORTED;
    case nt::STATUS_FILE_LOCK_CONFLICT: return nt::ERROR_LOCK_VIOLATION;
    case STATUS_OBJECT_NAME_NOT_FOUND: return nt::ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_PATH_NOT_FOUND: return nt::ERROR_PATH_NOT_FOUND;
    case STATUS_SHARING_VIOLATION: return nt::ERROR_SHARING_VIOLATION;
    case STATUS_DISK_FULL: return 112;  // ERROR_DISK_FULL
    case STATUS_FILE_IS_A_DIRECTORY: return nt::ERROR_ACCESS_DENIED;
    case STATUS_NOT_A_DIRECTORY: return 267;  // ERROR_DIRECTORY
    case STATUS_UNRECOGNIZED_VOLUME: return nt::ERROR_UNRECOGNIZED_VOLUME;
    default: return 317;  // ERROR_MR_MID_NOT_FOUND, as NT answers an unmapped status
  }
}

}  // namespace platform
