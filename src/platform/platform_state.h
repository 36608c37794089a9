// Internal state shared by the platform's configuration (platform.cpp) and
// the NT calls (nt_*.cpp). Not for use outside src/platform.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "platform/platform.h"

namespace platform::detail {

// Where a drive's bytes come from.
struct DriveSource {
  char letter = 0;
  std::string path;                      // image file or block device ("" for memory)
  std::shared_ptr<MemoryDevice> memory;  // set for a memory drive
  std::vector<std::string> busyFiles;    // normalised: "\"-separated, no leading "\"
  int partition = 0;                     // see DriveEntry
  int64_t offsetSector = -1;
  bool SameVolume(const DriveSource& o) const {
    return path == o.path && partition == o.partition && offsetSector == o.offsetSector;
  }
};

// The source of a mapped drive; false when the letter is not mapped.
bool SourceOf(char letter, DriveSource& source);

// Applies VODURU_FAULTS and the wrappers set by SetDeviceWrapper to a
// freshly opened base device.
std::shared_ptr<BlockDevice> StackWrappers(char letter, std::shared_ptr<BlockDevice> base);

struct VersionInfo {
  unsigned major = 4, minor = 0, build = 1381;
  std::string servicePack = "Service Pack 6";
};
const VersionInfo& Version();

// Closes every handle and forgets every open volume (ResetPlatform).
void CloseAllHandles();
// Forgets the volumes no handle holds (after the drive map or the wrappers
// change, so the next use builds the device stack afresh).
void DropIdleVolumes();

// A path on a drive, normalised: components joined by "\", no leading or
// trailing "\", empty components and "." dropped. False for ".." components
// that leave the root.
bool NormalisePath(const std::string& path, std::string& normal);

// Sleep without waiting when virtual sleeping is on (true), else false.
bool VirtualSleep(uint32_t ms);
void CountBeep();

// The mount table read to tell whether a block device is mounted
// (/proc/self/mountinfo; tests point it elsewhere).
void SetMountInfoPath(const std::string& path);
const std::string& MountInfoPath();

// The reason of the last refused volume query (see LastVolumeRefusal) and
// of the last drive that could not be opened or read (LastDriveFailure).
extern std::string lastRefusal;
extern std::string lastFailure;

// Lower-case ASCII.
std::string Lower(std::string s);

}  // namespace platform::detail
