// The NT 4.0 calls the program uses, emulated over Linux volumes (disk images
// and block devices named by the drive map). Each call keeps NT's meaning:
// return values, share modes, last-error codes and NTSTATUS answers.
#pragma once

#include <cstdint>
#include <string>

namespace nt {

using HANDLE = int32_t;
using BOOL = int32_t;
using DWORD = uint32_t;
using LONG = int32_t;
using NTSTATUS = int32_t;
using UINT = uint32_t;

constexpr HANDLE INVALID_HANDLE_VALUE = -1;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Access, share and creation.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000u;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// File attributes.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x800;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// File-system control codes.
constexpr DWORD FSCTL_LOCK_VOLUME = 0x90018;
constexpr DWORD FSCTL_UNLOCK_VOLUME = 0x9001C;
constexpr DWORD FSCTL_GET_NTFS_VOLUME_DATA = 0x90064;
constexpr DWORD FSCTL_GET_NTFS_FILE_RECORD = 0x90068;
constexpr DWORD FSCTL_GET_VOLUME_BITMAP = 0x9006F;
constexpr DWORD FSCTL_GET_RETRIEVAL_POINTERS = 0x90073;
constexpr DWORD FSCTL_MOVE_FILE = 0x90074;

// Win32 error codes (GetLastError).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_SECTOR_NOT_FOUND = 27;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_UNRECOGNIZED_VOLUME = 1005;

// NTSTATUS answers of NtFsControlFile.
constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_PENDING = 0x103;
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = static_cast<NTSTATUS>(0x80000005u);
constexpr NTSTATUS STATUS_NO_MORE_FILES = static_cast<NTSTATUS>(0x80000006u);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = static_cast<NTSTATUS>(0xC0000010u);
constexpr NTSTATUS STATUS_END_OF_FILE = static_cast<NTSTATUS>(0xC0000011u);
constexpr NTSTATUS STATUS_ALREADY_COMMITTED = static_cast<NTSTATUS>(0xC0000021u);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022u);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023u);
constexpr NTSTATUS STATUS_DISK_CORRUPT_ERROR = static_cast<NTSTATUS>(0xC0000032u);
constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = static_cast<NTSTATUS>(0xC000009Cu);
constexpr NTSTATUS STATUS_MEDIA_WRITE_PROTECTED = static_cast<NTSTATUS>(0xC00000A2u);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BBu);
constexpr NTSTATUS STATUS_FILE_LOCK_CONFLICT = static_cast<NTSTATUS>(0xC0000054u);

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD INFINITE = 0xFFFFFFFFu;

struct IO_STATUS_BLOCK {
  NTSTATUS Status = 0;
  uint64_t Information = 0;
};

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize = 148;
  DWORD dwMajorVersion = 0;
  DWORD dwMinorVersion = 0;
  DWORD dwBuildNumber = 0;
  DWORD dwPlatformId = 0;
  char szCSDVersion[128] = {};
};

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  DWORD dwReserved0 = 0, dwReserved1 = 0;
  char cFileName[260] = {};
  char cAlternateFileName[14] = {};
};

// Kernel services.
HANDLE CreateFileA(const std::string& name, DWORD access, DWORD shareMode, void* security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE h);
BOOL DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned, void* overlapped);
DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD method);
BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
void Sleep(DWORD milliseconds);
DWORD GetLastError();
void SetLastError(DWORD code);

BOOL GetDiskFreeSpaceA(const std::string& root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters);
BOOL GetVolumeInformationA(const std::string& root, char* volumeName, DWORD volumeNameSize,
                           DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fsFlags,
                           char* fsName, DWORD fsNameSize);
BOOL GetVersionExA(OSVERSIONINFOA* info);
UINT GetSystemDirectoryA(char* buffer, UINT size);
DWORD GetFileAttributesA(const std::string& path);

HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE h, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE h);

// The native file-system control call. A driver may answer STATUS_PENDING;
// the caller then waits on the handle with WaitForSingleObject.
NTSTATUS NtFsControlFile(HANDLE h, HANDLE event, void* apcRoutine, void* apcContext,
                         IO_STATUS_BLOCK* ioStatus, DWORD code, const void* in, DWORD inSize,
                         void* out, DWORD outSize);
// The native flush: on a file or volume handle of a volume in use, the file
// system writes what it holds back in memory. STATUS_SUCCESS, or the status
// of the failure.
NTSTATUS NtFlushBuffersFile(HANDLE h, IO_STATUS_BLOCK* ioStatus);

// Process calls: honoured where Linux allows, otherwise successful no-ops.
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x80;
HANDLE GetCurrentProcess();
BOOL SetPriorityClass(HANDLE process, DWORD priorityClass);
BOOL SetProcessWorkingSetSize(HANDLE process, uint64_t minimum, uint64_t maximum);
BOOL MessageBeep(UINT type);

}  // namespace nt
