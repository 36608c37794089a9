// The system calls: version, system folder, the process's priority and
// working set, Sleep, beeps and the last error.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/nt_internal.h"
#include "platform/platform_state.h"

namespace nt {

using namespace detail;

namespace {

constexpr HANDLE kCurrentProcess = -1;  // NT's pseudo-handle of the current process

}  // namespace

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

void Sleep(DWORD milliseconds) {
  if (platform::detail::VirtualSleep(milliseconds)) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL MessageBeep(UINT) {
  platform::detail::CountBeep();
  return TRUE;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

}  // namespace nt
