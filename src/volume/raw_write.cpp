#include "volume/raw_write.h"

#include <algorithm>
#include <vector>

#include "volume/block_cache.h"
#include "volume/clean_check.h"
#include "volume/session.h"

namespace vr {

namespace {

bool verify = false;
std::string refusal;
bool unclean = false;

bool Refuse(const std::string& why) {
  refusal = why;
  return false;
}

}  // namespace

void SetWriteVerify(bool on) { verify = on; }

const std::string& LastWriteRefusal() { return refusal; }

bool LastWriteFoundUnclean() { return unclean; }

bool Raw_Write(Long Sector, Bytes Data) {
  const VolumeSessionData& s = VolumeSession;
  unclean = false;
  // Exclusive and locked: no file system and no other program writes the
  // volume meanwhile (a mounted device is never opened exclusively).
  if (s.VolumeHandle == -1 || s.SharedMode != 0 || s.NotLocked != 0 || s.Locked == 0)
    return Refuse("The volume is not held exclusively and locked.");
  if (Data.empty() || Data.size() % kSectorSize != 0)
    return Refuse("A write must cover whole sectors.");
  if (Sector < 0) return Refuse("A write must start inside the volume.");
  const std::string& notClean = VolumeNotClean();
  if (!notClean.empty()) {
    unclean = true;
    return Refuse(notClean);
  }
  if (!Seek_Sector(Sector)) return Refuse("Error writing drive");
  nt::DWORD written = 0;
  const nt::BOOL ok = nt::WriteFile(s.VolumeHandle, Data.data(),
                                    static_cast<nt::DWORD>(Data.size()), &written, nullptr);
  // Cached copies of the sectors follow the disk; after a failed write
  // nothing cached is trusted.
  if (!ok || written != Data.size()) {
    Cache_Clear();
    return Refuse("Error writing drive");
  }
  Cache_Written(Sector, Data);
  if (verify) {
    std::vector<uint8_t> back(Data.size());
    nt::DWORD read = 0;
    if (!Seek_Sector(Sector) ||
        !nt::ReadFile(s.VolumeHandle, back.data(), static_cast<nt::DWORD>(back.size()), &read,
                      nullptr) ||
        read != back.size() || !std::equal(back.begin(), back.end(), Data.begin())) {
      Cache_Clear();
      return Refuse("Error writing drive");
    }
  }
  refusal.clear();
  return true;
}

}  // namespace vr
