#include "volume/clean_check.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/run_error.h"
#include "volume/error_state.h"
#include "volume/hibernation_check.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

namespace {

struct CleanCheck {
  bool done = false;
  std::string reason;
};

CleanCheck& Check() {
  static CleanCheck check;
  return check;
}

// Reads whole sectors at a byte offset without touching the error state:
// a volume that cannot be read for the check is simply not clean.
bool ReadAt(int64_t offset, std::vector<uint8_t>& buffer) {
  if (offset < 0 || offset % kSectorSize != 0 || buffer.size() % kSectorSize != 0) return false;
  const int64_t sector = offset / kSectorSize;
  if (sector > 0x7FFFFFFF) return false;
  if (!Seek_Sector(Long(sector))) return false;
  nt::DWORD read = 0;
  const nt::BOOL ok = nt::ReadFile(VolumeSession.VolumeHandle, buffer.data(),
                                   static_cast<nt::DWORD>(buffer.size()), &read, nullptr);
  return ok && read == buffer.size();
}

std::string FatReason(Bytes boot) {
  const int64_t bytesPerSector = U16(boot, 0x0B);
  const int64_t reserved = U16(boot, 0x0E);
  const int64_t sectors = U16(boot, 0x13) != 0 ? U16(boot, 0x13) : U32(boot, 0x20);
  const int64_t perFat = U16(boot, 0x16);
  const int64_t rootSectors =
      (int64_t{U16(boot, 0x11)} * 32 + bytesPerSector - 1) / std::max<int64_t>(bytesPerSector, 1);
  const int64_t spc = U8(boot, 0x0D);
  if (bytesPerSector != kSectorSize || spc == 0 || perFat == 0) return "the boot sector is damaged";
  const int64_t clusters = (sectors - reserved - U8(boot, 0x10) * perFat - rootSectors) / spc;
  std::vector<uint8_t> fat(kSectorSize);
  if (!ReadAt(reserved * kSectorSize, fat)) return "its FAT cannot be read";
  if (clusters >= 4085) {
    // FAT16: bit 15 of entry 1 is the clean-shutdown bit, bit 14 no disk errors.
    const uint16_t entry1 = U16(fat, 2);
    if ((entry1 & 0x8000) == 0) return "it was not shut down cleanly (FAT entry 1)";
    if ((entry1 & 0x4000) == 0) return "it has disk errors recorded (FAT entry 1)";
    if ((U8(boot, 0x25) & 0x01) != 0) return "it is marked dirty (boot sector)";
  }
  // FAT12 keeps no clean bits.
  return "";
}

// Applies the update sequence of a FILE record in place; false when a
// sector is torn.
bool FixUp(std::vector<uint8_t>& record) {
  const MutableBytes b(record);
  const int64_t usa = U16(b, 4);
  const int64_t count = U16(b, 6);
  if (count < 2 || (count - 1) * kSectorSize > static_cast<int64_t>(record.size())) return false;
  const uint16_t usn = U16(b, usa);
  for (int64_t k = 1; k < count; ++k) {
    if (U16(b, k * kSectorSize - 2) != usn) return false;
    PutU16(b, k * kSectorSize - 2, U16(b, usa + 2 * k));
  }
  return true;
}

// The attribute of a type in a fixed-up FILE record; -1 when absent.
int64_t FindAttribute(Bytes record, uint32_t type) {
  int64_t at = U16(record, 0x14);
  while (at + 8 <= static_cast<int64_t>(record.size())) {
    const uint32_t t = U32(record, at);
    const int64_t length = U32(record, at + 4);
    if (t == 0xFFFFFFFFu || length < 0x18) return -1;
    if (t == type) return at;
    at += length;
  }
  return -1;
}

// The first LCN of a non-resident attribute's first run; -1 when none.
int64_t FirstLcn(Bytes record, int64_t attr) {
  if (U8(record, attr + 8) == 0) return -1;
  const int64_t pairs = attr + U16(record, attr + 0x20);
  const uint8_t header = U8(record, pairs);
  const int lengthBytes = header & 0x0F;
  const int offsetBytes = header >> 4;
  if (lengthBytes == 0 || offsetBytes == 0 || offsetBytes > 8) return -1;
  int64_t lcn = 0;
  for (int k = 0; k < offsetBytes; ++k)
    lcn |= int64_t{U8(record, pairs + 1 + lengthBytes + k)} << (8 * k);
  if (offsetBytes < 8 && (lcn >> (8 * offsetBytes - 1)) != 0) return -1;  // negative
  return lcn;
}

std::string NtfsReason(Bytes boot) {
  const int64_t bytesPerSector = U16(boot, 0x0B);
  const int64_t clusterBytes = bytesPerSector * U8(boot, 0x0D);
  const int8_t perRecord = I8(boot, 0x40);
  const int64_t recordBytes = perRecord > 0 ? perRecord * clusterBytes : int64_t{1} << -perRecord;
  const int64_t mftLcn = I64(boot, 0x30);
  if (bytesPerSector != kSectorSize || clusterBytes == 0 || recordBytes < kSectorSize ||
      recordBytes > 65536 || mftLcn <= 0 || mftLcn > (int64_t{1} << 40))
    return "the boot sector is damaged";
  auto record = [&](int64_t number, std::vector<uint8_t>& r) {
    r.assign(static_cast<size_t>(recordBytes), 0);
    return ReadAt(mftLcn * clusterBytes + number * recordBytes, r) && U32(r, 0) == 0x454C4946u &&
           FixUp(r);
  };
  std::vector<uint8_t> r;
  if (!record(3, r)) return "its $Volume record cannot be read";
  const int64_t info = FindAttribute(r, 0x70);
  if (info < 0 || U8(r, info + 8) != 0) return "its $Volume record cannot be read";
  const uint16_t flags = U16(r, info + U16(r, info + 0x14) + 0x0A);
  if ((flags & 0x0001) != 0) return "it is marked dirty ($Volume)";
  const std::string hibernated = HibernationReason({clusterBytes, recordBytes, mftLcn}, ReadAt);
  if (!hibernated.empty()) return hibernated;
  if (!record(2, r)) return "its $LogFile record cannot be read";
  const int64_t data = FindAttribute(r, 0x80);
  const int64_t lcn = data < 0 ? -1 : FirstLcn(r, data);
  if (lcn <= 0) return "its $LogFile cannot be read";
  std::vector<uint8_t> page(kSectorSize);
  if (!ReadAt(lcn * clusterBytes, page)) return "its $LogFile cannot be read";
  // A log reset to 0xFF bytes holds nothing to replay.
  if (std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0xFF; })) return "";
  if (U32(page, 0) != 0x52545352u)  // "RSTR"
    return "its $LogFile was not closed cleanly";
  const int64_t area = U16(page, 0x18);
  const uint16_t inUse = U16(page, area + 0x0C);
  const uint16_t areaFlags = U16(page, area + 0x0E);
  if (inUse != 0xFFFF && (areaFlags & 0x0002) == 0) return "its $LogFile was not closed cleanly";
  return "";
}

std::string Reason() {
  if (VolumeSession.VolumeHandle == -1) return "it is not open";
  std::vector<uint8_t> boot(kSectorSize);
  if (!ReadAt(0, boot)) return "its boot sector cannot be read";
  try {
    if (GetAscii(boot, 3, 8) == "NTFS    ") return NtfsReason(boot);
    return FatReason(boot);
  } catch (const RunError&) {
    return "its structures are damaged";
  }
}

}  // namespace

const std::string& VolumeNotClean() {
  CleanCheck& c = Check();
  if (!c.done) {
    c.reason = Reason();
    if (!c.reason.empty()) c.reason = "The volume is not clean: " + c.reason + ".";
    c.done = true;
  }
  return c.reason;
}

bool StopIfNotClean() {
  const std::string& why = VolumeNotClean();
  if (why.empty()) return false;
  ReportError(why);
  ErrorState.Failed = kTrue;
  return true;
}

void ForgetCleanCheck() { Check() = CleanCheck{}; }

void AssumeVolumeClean() { Check() = CleanCheck{true, ""}; }

}  // namespace vr
