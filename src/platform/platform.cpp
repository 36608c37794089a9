// Platform configuration: the drive map, device wrappers, memory drives,
// the reported version, the settings store and the program folder.
#include "platform/platform.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/io_counts.h"
#include "platform/platform_state.h"
#include "runtime/format.h"

namespace platform {

namespace {

struct MemoryDrive {
  std::shared_ptr<MemoryDevice> device;
  std::vector<std::string> busyFiles;
};

struct Config {
  std::vector<DriveEntry> fileDrives;        // from the drive map
  std::map<char, MemoryDrive> memoryDrives;  // memory images standing in for drives
  std::vector<DriveEntry> effective;         // both, as DriveMap() shows them
  std::map<char, DeviceWrapper> wrappers;
  detail::VersionInfo version;
  bool virtualSleep = false;
  uint64_t virtualMs = 0;
  uint64_t beeps = 0;
};

Config& State() {
  static Config config;
  return config;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

void Rebuild() {
  Config& c = State();
  c.effective.clear();
  for (const DriveEntry& d : c.fileDrives)
    if (!c.memoryDrives.count(d.letter)) c.effective.push_back(d);
  for (const auto& [letter, m] : c.memoryDrives)
    c.effective.push_back(DriveEntry{letter, "(memory)", m.busyFiles});
  std::sort(c.effective.begin(), c.effective.end(),
            [](const DriveEntry& a, const DriveEntry& b) { return a.letter < b.letter; });
}

// "c:read=3,write=2,sticky;d:write=1" from VODURU_FAULTS, for one drive.
bool FaultsFor(char letter, uint64_t& failRead, uint64_t& failWrite, bool& sticky) {
  const char* env = std::getenv("VODURU_FAULTS");
  if (env == nullptr) return false;
  for (const std::string& raw : Split(env, ';')) {
    const std::string item = Trim(raw);
    if (item.size() < 2 || item[1] != ':' ||
        std::tolower(static_cast<unsigned char>(item[0])) != letter)
      continue;
    failRead = failWrite = 0;
    sticky = false;
    for (const std::string& opt : Split(item.substr(2), ',')) {
      const std::string o = Trim(opt);
      const size_t eq = o.find('=');
      const std::string key = o.substr(0, eq);
      const uint64_t n =
          eq == std::string::npos ? 0 : std::strtoull(o.c_str() + eq + 1, nullptr, 10);
      if (key == "read")
        failRead = n;
      else if (key == "write")
        failWrite = n;
      else if (key == "sticky")
        sticky = true;
      else
        std::fprintf(stderr, "VODURU_FAULTS: unknown item \"%s\" ignored\n", o.c_str());
    }
    return true;
  }
  return false;
}

}  // namespace

namespace detail {

std::string Lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

bool NormalisePath(const std::string& path, std::string& normal) {
  std::vector<std::string> parts;
  std::string p = path;
  for (char& ch : p)
    if (ch == '/') ch = '\\';
  for (const std::string& part : Split(p, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  normal.clear();
  for (size_t i = 0; i < parts.size(); ++i) normal += (i ? "\\" : "") + parts[i];
  return true;
}

bool SourceOf(char letter, DriveSource& source) {
  Config& c = State();
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  source = DriveSource{};
  source.letter = letter;
  auto m = c.memoryDrives.find(letter);
  if (m != c.memoryDrives.end()) {
    source.memory = m->second.device;
    source.busyFiles = m->second.busyFiles;
  } else {
    const DriveEntry* d = FindDrive(letter);
    if (d == nullptr) return false;
    source.path = d->path;
    source.busyFiles = d->busyFiles;
    source.partition = d->partition;
    source.offsetSector = d->offsetSector;
  }
  for (std::string& f : source.busyFiles) NormalisePath(f, f);
  return true;
}

std::shared_ptr<BlockDevice> StackWrappers(char letter, std::shared_ptr<BlockDevice> base) {
  uint64_t failRead = 0, failWrite = 0;
  bool sticky = false;
  if (FaultsFor(letter, failRead, failWrite, sticky))
    base = std::make_shared<FaultDevice>(std::move(base), failRead, failWrite, sticky);
  auto w = State().wrappers.find(letter);
  if (w != State().wrappers.end() && w->second) base = w->second(std::move(base));
  return CountTransfers(letter, std::move(base));
}

const VersionInfo& Version() { return State().version; }

}  // namespace detail

bool ParseDriveMap(const std::string& text, std::vector<DriveEntry>& drives, std::string& error) {
  std::vector<DriveEntry> result;
  error.clear();
  for (const std::string& raw : Split(text, ';')) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;  // "c=a.img;" and ";;" are harmless
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
      error = "Drive map entry \"" + item + "\" has no \"=\"";
      return false;
    }
    const std::string letterText = Trim(item.substr(0, eq));
    if (letterText.size() != 1 || !std::isalpha(static_cast<unsigned char>(letterText[0]))) {
      error = "Drive map entry \"" + item + "\" does not start with a drive letter";
      return false;
    }
    DriveEntry entry;
    entry.letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letterText[0])));
    const std::vector<std::string> fields = Split(item.substr(eq + 1), ',');
    entry.path = Trim(fields[0]);
    if (entry.path.empty()) {
      error = "Drive map entry for " + std::string(1, entry.letter) + ": has no path";
      return false;
    }
    for (size_t i = 1; i < fields.size(); ++i) {
      const std::string f = Trim(fields[i]);
      const std::string drive = "Drive map entry for " + std::string(1, entry.letter) + ": ";
      if (f.rfind("partition=", 0) == 0 || f.rfind("offset=", 0) == 0) {
        const bool isPartition = f[0] == 'p';
        const std::string digits = f.substr(f.find('=') + 1);
        const long long n = std::strtoll(digits.c_str(), nullptr, 10);
        const bool number = !digits.empty() && digits.size() <= 15 &&
                            digits.find_first_not_of("0123456789") == std::string::npos;
        if (!number || (isPartition && (n < 1 || n > 256))) {
          error = drive + "bad " + (isPartition ? "partition number" : "sector offset") + " \"" +
                  digits + "\"";
          return false;
        }
        if (entry.partition != 0 || entry.offsetSector >= 0) {
          error = drive + "give one partition= or offset=, not both";
          return false;
        }
        if (isPartition)
          entry.partition = static_cast<int>(n);
        else
          entry.offsetSector = n;
        continue;
      }
      if (f.rfind("busy=", 0) != 0) {
        error = "Drive map entry for " + std::string(1, entry.letter) + ": unknown option \"" + f +
                "\"";
        return false;
      }
      for (const std::string& name : Split(f.substr(5), '|')) {
        std::string normal;
        if (!detail::NormalisePath(Trim(name), normal) || normal.empty()) {
          error = "Drive map entry for " + std::string(1, entry.letter) + ": bad busy file \"" +
                  name + "\"";
          return false;
        }
        entry.busyFiles.push_back(Trim(name));
      }
    }
    for (const DriveEntry& other : result)
      if (other.letter == entry.letter) {
        error = "Drive " + std::string(1, entry.letter) + ": is mapped twice";
        return false;
      }
    result.push_back(std::move(entry));
  }
  drives = std::move(result);
  return true;
}

void SetDriveMap(std::vector<DriveEntry> drives) {
  State().fileDrives = std::move(drives);
  Rebuild();
  detail::DropIdleVolumes();
}

const std::vector<DriveEntry>& DriveMap() { return State().effective; }

const DriveEntry* FindDrive(char letter) {
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  for (const DriveEntry& d : State().effective)
    if (d.letter == letter) return &d;
  return nullptr;
}

bool LoadDriveMap(std::string& error) {
  std::string text;
  if (const char* env = std::getenv("VODURU_DRIVES"); env != nullptr) {
    text = env;
  } else {
    std::string joined;
    // The settings section "Drives" holds one key per letter ("c" =
    // "/path/a.img,busy=...") or a single key "Map" with a whole map.
    if (auto whole = Settings().Get("Drives", "Map")) joined = *whole;
    for (char letter = 'a'; letter <= 'z'; ++letter)
      if (auto v = Settings().Get("Drives", std::string(1, letter)))
        joined += (joined.empty() ? "" : ";") + std::string(1, letter) + "=" + *v;
    text = joined;
  }
  std::vector<DriveEntry> drives;
  if (!ParseDriveMap(text, drives, error)) return false;
  SetDriveMap(std::move(drives));
  return true;
}

void SetDeviceWrapper(char letter, DeviceWrapper wrapper) {
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (wrapper)
    State().wrappers[letter] = std::move(wrapper);
  else
    State().wrappers.erase(letter);
  detail::DropIdleVolumes();
}

void MapMemoryDrive(char letter, std::shared_ptr<MemoryDevice> device,
                    std::vector<std::string> busyFiles) {
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (device)
    State().memoryDrives[letter] = MemoryDrive{std::move(device), std::move(busyFiles)};
  else
    State().memoryDrives.erase(letter);
  Rebuild();
  detail::DropIdleVolumes();
}

void SetVersion(unsigned major, unsigned minor, unsigned build, const std::string& servicePack) {
  State().version = detail::VersionInfo{major, minor, build, servicePack};
}

std::string ProgramFolder() {
  std::string folder;
  if (const char* home = std::getenv("VODURU_HOME"); home != nullptr && *home != '\0') {
    folder = home;
  } else {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* user = std::getenv("HOME");
    if (data != nullptr && *data != '\0')
      folder = std::string(data) + "/VoduRU";
    else
      folder = std::string(user != nullptr ? user : ".") + "/.local/share/VoduRU";
  }
  // Create the folder and any missing parents.
  for (size_t at = 1; at <= folder.size(); ++at)
    if (at == folder.size() || folder[at] == '/') ::mkdir(folder.substr(0, at).c_str(), 0755);
  return folder;
}

uint64_t ClockMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) +
         State().virtualMs;
}

void SetVirtualSleep(bool on) { State().virtualSleep = on; }

uint64_t BeepCount() { return State().beeps; }

namespace detail {
bool VirtualSleep(uint32_t ms) {
  if (!State().virtualSleep) return false;
  State().virtualMs += ms;
  vr::AdvanceTimer(ms / 1000.0);
  return true;
}
void CountBeep() { ++State().beeps; }

std::string& MountInfo() {
  static std::string path = "/proc/self/mountinfo";
  return path;
}
void SetMountInfoPath(const std::string& path) { MountInfo() = path; }
const std::string& MountInfoPath() { return MountInfo(); }
}  // namespace detail

void ResetPlatform() {
  detail::CloseAllHandles();
  Config& c = State();
  c.fileDrives.clear();
  c.memoryDrives.clear();
  c.effective.clear();
  c.wrappers.clear();
  c.version = detail::VersionInfo{};
  c.virtualSleep = false;
  c.beeps = 0;
  detail::SetMountInfoPath("/proc/self/mountinfo");
}

}  // namespace platform
