// Configuration of the emulated platform: the drive map, device wrappers,
// the reported Windows version and the settings store. The NT calls of nt.h
// read this state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace platform {

struct DriveEntry {
  char letter = 0;                     // lower case
  std::string path;                    // image file or block device
  std::vector<std::string> busyFiles;  // files "other programs" hold open
  // On a whole disk: the partition that is the volume (1-based, 0 = none),
  // or the sector where the volume starts (-1 = none).
  int partition = 0;
  int64_t offsetSector = -1;
};

// Parses "c=/path/a.img,busy=pagefile.sys|data\lock.db;d=/dev/sdb1"; an
// entry may pick a partition of a whole disk: "c=/disk.img,partition=2" or
// "c=/disk.img,offset=2048".
// Returns false and an explanation for a malformed map.
bool ParseDriveMap(const std::string& text, std::vector<DriveEntry>& drives, std::string& error);
// The map in force: set by --drives, else VODURU_DRIVES, else the settings
// store section "Drives" (see LoadDriveMap).
void SetDriveMap(std::vector<DriveEntry> drives);
const std::vector<DriveEntry>& DriveMap();
const DriveEntry* FindDrive(char letter);
// Loads the map from VODURU_DRIVES or the settings store; false and an
// explanation when the text found there is malformed.
bool LoadDriveMap(std::string& error);

// Stacks wrappers on a drive's device each time it is opened. A memory
// image can stand in for the drive's path entirely.
using DeviceWrapper = std::function<std::shared_ptr<BlockDevice>(std::shared_ptr<BlockDevice>)>;
void SetDeviceWrapper(char letter, DeviceWrapper wrapper);
void MapMemoryDrive(char letter, std::shared_ptr<MemoryDevice> device,
                    std::vector<std::string> busyFiles = {});

// GetVersionExA answers NT 4.0 build 1381 "Service Pack 6" unless set.
void SetVersion(unsigned major, unsigned minor, unsigned build, const std::string& servicePack);

// Per-user settings (QSettings, application "VoduRU"), or an in-memory store
// for tests.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> Get(const std::string& section, const std::string& key) = 0;
  virtual void Save(const std::string& section, const std::string& key,
                    const std::string& value) = 0;
  virtual void Delete(const std::string& section, const std::string& key) = 0;
};
SettingsStore& Settings();
void SetSettingsStore(std::unique_ptr<SettingsStore> store);
std::unique_ptr<SettingsStore> MakeMemorySettings();

// The program's folder: $VODURU_HOME, else ~/.local/share/VoduRU (created).
std::string ProgramFolder();

// Time as the platform keeps it, in milliseconds from an arbitrary start.
// With virtual sleeping (tests), Sleep returns at once and advances this
// clock instead of waiting; drivers time their delays by it.
uint64_t ClockMs();
void SetVirtualSleep(bool on);
// Number of MessageBeep calls so far (tests check that a beep was given).
uint64_t BeepCount();

// Why the last volume query refused a readable volume (an unknown kind, a
// sector size other than 512 bytes, a damaged boot sector); the NT calls
// only answer ERROR_UNRECOGNIZED_VOLUME.
std::string LastVolumeRefusal();

// Why the last drive could not be opened or read, as "path: reason" in the
// system's words ("/data/nope.img: No such file or directory").
std::string LastDriveFailure();

// True when drive `letter` names a whole disk (no partition chosen) whose
// first sector holds a partition table; `table` then lists its partitions.
struct PartitionTable;
bool WholeDiskTable(char letter, PartitionTable& table);

// Back to a fresh platform: no drives, no wrappers, default version, no open
// handles. For tests.
void ResetPlatform();

}  // namespace platform
