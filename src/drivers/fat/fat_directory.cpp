// Decoding FAT folder slots. Every byte goes through the checked accessors;
// a folder that ends in the middle of a slot simply ends there.
#include "drivers/fat/fat_directory.h"

#include <array>

#include "platform/platform_state.h"

namespace platform::fat {

namespace {

// Code page 437, bytes 0x80..0xFF, as Unicode: the OEM code page of 8.3
// names on the volumes NT 4.0 wrote in the US.
constexpr std::array<uint16_t, 128> kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendOem(std::string& out, uint8_t c, bool lower) {
  if (c < 0x80) {
    out += static_cast<char>(lower && c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  } else {
    AppendUtf8(out, kCp437[c - 0x80]);
  }
}

// UTF-16 (as stored in long-name slots) to UTF-8; false for characters a
// name may not hold (controls, path separators, wildcards, broken pairs).
bool LongNameText(const std::vector<uint16_t>& units, std::string& out) {
  out.clear();
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp < 0x20) return false;
    if (cp < 0x80 && std::string("\\/:*?\"<>|").find(static_cast<char>(cp)) != std::string::npos)
      return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    AppendUtf8(out, cp);
  }
  return !out.empty();
}

// The 13 UTF-16 units a long-name slot carries, at their byte offsets.
constexpr std::array<int, 13> kLongNameUnits = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
constexpr int kMaxLongNameSlots = 20;  // 255 characters

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string ShortName(vr::Bytes bytes, int64_t offset, uint8_t caseFlags) {
  int baseEnd = 8, extEnd = 3;
  while (baseEnd > 0 && vr::U8(bytes, offset + baseEnd - 1) == ' ') --baseEnd;
  while (extEnd > 0 && vr::U8(bytes, offset + 8 + extEnd - 1) == ' ') --extEnd;
  std::string name;
  for (int i = 0; i < baseEnd; ++i) {
    uint8_t c = vr::U8(bytes, offset + i);
    if (i == 0 && c == 0x05) c = 0xE5;  // 0xE5 as a first byte would mean "erased"
    AppendOem(name, c, (caseFlags & 0x08) != 0);
  }
  if (extEnd > 0) {
    name += '.';
    for (int i = 0; i < extEnd; ++i)
      AppendOem(name, vr::U8(bytes, offset + 8 + i), (caseFlags & 0x10) != 0);
  }
  return name;
}

uint8_t ShortNameChecksum(vr::Bytes bytes, int64_t offset) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + vr::U8(bytes, offset + i));
  return sum;
}

uint64_t FatTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenMs) {
  if (date == 0) return 0;
  const unsigned year = 1980 + (date >> 9), month = (date >> 5) & 0x0F, day = date & 0x1F;
  const unsigned hour = time >> 11, minute = (time >> 5) & 0x3F, seconds = (time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || seconds > 59 || tenMs > 199)
    return 0;
  const int64_t days = DaysFromCivil(year, month, day);
  const int64_t unixSeconds = days * 86400 + hour * 3600 + minute * 60 + seconds;
  // FILETIME counts 100 ns units from 1601-01-01.
  return static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ull +
         uint64_t{tenMs} * 100000;
}

uint32_t NtAttributes(uint8_t fatAttributes) {
  const uint32_t reported =
      fatAttributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
  return reported != 0 ? reported : nt::FILE_ATTRIBUTE_NORMAL;
}

std::vector<DirEntry> DecodeFolder(vr::Bytes bytes) {
  std::vector<DirEntry> entries;
  std::vector<uint16_t> units;  // the long name being gathered, in name order
  int lastSequence = 0;         // sequence number of the slot just taken; 0: none pending
  uint8_t checksum = 0;
  auto reset = [&] {
    units.clear();
    lastSequence = 0;
  };
  const uint64_t slots = bytes.size() / kSlotBytes;
  for (uint64_t i = 0; i < slots; ++i) {
    const int64_t at = static_cast<int64_t>(i * kSlotBytes);
    const uint8_t first = vr::U8(bytes, at);
    if (first == 0x00) break;  // end of the folder
    const uint8_t attr = vr::U8(bytes, at + 11);
    if (first == 0xE5) {
      reset();
      continue;
    }
    if ((attr & 0x3F) == kAttrLongName) {
      const int sequence = first & 0x3F;
      if (first & 0x40) {
        // The first slot on disk carries the highest sequence number.
        if (sequence < 1 || sequence > kMaxLongNameSlots) {
          reset();
          continue;
        }
        units.assign(static_cast<size_t>(sequence) * kLongNameUnits.size(), 0xFFFF);
        checksum = vr::U8(bytes, at + 13);
      } else if (lastSequence < 2 || sequence != lastSequence - 1 ||
                 vr::U8(bytes, at + 13) != checksum) {
        reset();
        continue;
      }
      lastSequence = sequence;
      for (size_t k = 0; k < kLongNameUnits.size(); ++k)
        units[(sequence - 1) * kLongNameUnits.size() + k] = vr::U16(bytes, at + kLongNameUnits[k]);
      continue;
    }
    const bool pending = lastSequence == 1 && ShortNameChecksum(bytes, at) == checksum;
    std::vector<uint16_t> longUnits;
    if (pending) {
      for (uint16_t u : units) {
        if (u == 0x0000 || u == 0xFFFF) break;  // terminator, then padding
        longUnits.push_back(u);
      }
    }
    reset();
    if (attr & kAttrLabel) continue;  // the volume label
    const std::string raw = vr::GetAscii(bytes, at, 11);
    if (raw == ".          " || raw == "..         ") continue;

    DirEntry e;
    e.slot = static_cast<uint32_t>(i);
    e.fatAttributes = attr;
    e.firstCluster = vr::U16(bytes, at + 0x1A);
    const std::string shortName = ShortName(bytes, at, vr::U8(bytes, at + 0x0C));
    std::string longName;
    if (!longUnits.empty() && LongNameText(longUnits, longName)) {
      e.entry.name = longName;
      if (longName != shortName) e.entry.shortName = shortName;
    } else {
      e.entry.name = shortName;
    }
    e.entry.attributes = NtAttributes(attr);
    e.entry.size = e.IsFolder() ? 0 : vr::U32(bytes, at + 0x1C);
    e.entry.creationTime = FatTimeToFileTime(vr::U16(bytes, at + 0x10), vr::U16(bytes, at + 0x0E),
                                             vr::U8(bytes, at + 0x0D));
    e.entry.lastAccessTime = FatTimeToFileTime(vr::U16(bytes, at + 0x12), 0, 0);
    e.entry.lastWriteTime =
        FatTimeToFileTime(vr::U16(bytes, at + 0x18), vr::U16(bytes, at + 0x16), 0);
    entries.push_back(std::move(e));
  }
  return entries;
}

bool NameMatches(const DirEntry& e, const std::string& name) {
  const std::string lower = detail::Lower(name);
  return detail::Lower(e.entry.name) == lower ||
         (!e.entry.shortName.empty() && detail::Lower(e.entry.shortName) == lower);
}

}  // namespace platform::fat
