// Decoding FAT folder slots: 8.3 and long names, skipped slots, the end
// mark, attributes and dates, on folders assembled slot by slot.
#include "drivers/fat/fat_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using platform::fat::DecodeFolder;
using platform::fat::DirEntry;

// A folder image built slot by slot.
class Folder {
 public:
  // An 8.3 slot; `name11` is the raw 11-byte name.
  Folder& Short(const std::string& name11, uint8_t attr, uint32_t size = 0, uint16_t cluster = 0,
                uint8_t caseFlags = 0) {
    std::vector<uint8_t> s(32, 0);
    std::memcpy(s.data(), name11.data(), 11);
    s[11] = attr;
    s[12] = caseFlags;
    s[0x1A] = static_cast<uint8_t>(cluster);
    s[0x1B] = static_cast<uint8_t>(cluster >> 8);
    for (int i = 0; i < 4; ++i) s[0x1C + i] = static_cast<uint8_t>(size >> (8 * i));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  // The long-name slots of `longName` for the 8.3 name `name11`, in disk
  // order (highest sequence first). `skip` leaves out the slot with that
  // sequence number; `sumDelta` spoils the checksum.
  Folder& Long(const std::string& longName, const std::string& name11, int skip = 0,
               int sumDelta = 0) {
    uint8_t sum = 0;
    for (char c : name11.substr(0, 11))
      sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(c));
    sum = static_cast<uint8_t>(sum + sumDelta);
    std::vector<uint16_t> units(longName.begin(), longName.end());
    const int count = static_cast<int>((units.size() + 12) / 13);
    if (units.size() % 13 != 0) units.push_back(0);
    while (units.size() % 13 != 0) units.push_back(0xFFFF);
    static const int kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int seq = count; seq >= 1; --seq) {
      if (seq == skip) continue;
      std::vector<uint8_t> s(32, 0);
      s[0] = static_cast<uint8_t>(seq | (seq == count ? 0x40 : 0));
      s[11] = 0x0F;
      s[13] = sum;
      for (int k = 0; k < 13; ++k) {
        const uint16_t u = units[static_cast<size_t>((seq - 1) * 13 + k)];
        s[kAt[k]] = static_cast<uint8_t>(u);
        s[kAt[k] + 1] = static_cast<uint8_t>(u >> 8);
      }
      bytes_.insert(bytes_.end(), s.begin(), s.end());
    }
    return *this;
  }
  Folder& Raw(std::vector<uint8_t> slot) {
    slot.resize(32);
    bytes_.insert(bytes_.end(), slot.begin(), slot.end());
    return *this;
  }
  std::vector<DirEntry> Decode() const { return DecodeFolder(vr::Bytes(bytes_)); }

 private:
  std::vector<uint8_t> bytes_;
};

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.entry.name);
  return names;
}

TEST(FatShortNames, TrimPadKeepExtensionAndRestoreE5) {
  auto e = Folder()
               .Short("README  TXT", 0x20, 10)
               .Short("NOEXT      ", 0x20)
               .Short(
                   "\x05"
                   "BC     DAT",
                   0x20)
               .Short("pagefileSYS", 0x20, 0, 0, 0x00)
               .Short("PAGEFILESYS", 0x20, 0, 0, 0x18)
               .Short("MIXED   TXT", 0x20, 0, 0, 0x08)
               .Decode();
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(e[0].entry.name, "README.TXT");
  EXPECT_EQ(e[0].entry.shortName, "") << "no long name: no alternate name";
  EXPECT_EQ(e[1].entry.name, "NOEXT");
  // 0x05 stands for 0xE5, which is sigma in code page 437.
  EXPECT_EQ(e[2].entry.name,
            "\xCF\x83"
            "BC.DAT");
  EXPECT_EQ(e[3].entry.name, "pagefile.SYS") << "bytes are taken as stored";
  EXPECT_EQ(e[4].entry.name, "pagefile.sys") << "NT's lower-case flags";
  EXPECT_EQ(e[5].entry.name, "mixed.TXT");
}

TEST(FatLongNames, AssembledFromSlotsInReverseOrder) {
  const std::string name = "A rather long file name.text";  // three slots
  auto e = Folder().Long(name, "ARATHE~1TEX").Short("ARATHE~1TEX", 0x20, 99, 7).Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.name, name);
  EXPECT_EQ(e[0].entry.shortName, "ARATHE~1.TEX");
  EXPECT_EQ(e[0].entry.size, 99u);
  EXPECT_EQ(e[0].firstCluster, 7u);
  EXPECT_EQ(e[0].slot, 3u) << "the short slot follows three long-name slots";
}

TEST(FatLongNames, ExactMultipleOfThirteenHasNoTerminator) {
  const std::string name = "Thirteen char";  // 13 characters, one full slot
  auto e = Folder().Long(name, "THIRTE~1   ").Short("THIRTE~1   ", 0x20).Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.name, name);
}

TEST(FatLongNames, BrokenChecksumFallsBackToTheShortName) {
  auto e =
      Folder().Long("Some long name.txt", "SOMELO~1TXT", 0, 1).Short("SOMELO~1TXT", 0x20).Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.name, "SOMELO~1.TXT");
  EXPECT_EQ(e[0].entry.shortName, "");
}

TEST(FatLongNames, BrokenSequenceFallsBackToTheShortName) {
  // Slot 2 of 3 missing.
  auto e = Folder()
               .Long("A rather long file name.text", "ARATHE~1TEX", 2)
               .Short("ARATHE~1TEX", 0x20)
               .Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.name, "ARATHE~1.TEX");
  // The last slot (sequence 1) missing: the chain never reaches 1.
  e = Folder()
          .Long("A rather long file name.text", "ARATHE~1TEX", 1)
          .Short("ARATHE~1TEX", 0x20)
          .Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.name, "ARATHE~1.TEX");
}

TEST(FatLongNames, ALongNameDoesNotSurviveAnErasedSlotOrPassToTheNextEntry) {
  std::vector<uint8_t> erased(32, 0);
  erased[0] = 0xE5;
  erased[11] = 0x20;
  auto e = Folder()
               .Long("Orphan long name.txt", "ORPHAN~1TXT")
               .Raw(erased)
               .Short("ORPHAN~1TXT", 0x20)
               .Long("Other name.txt", "OTHERN~1TXT")
               .Short("PLAIN   TXT", 0x20)  // checksum belongs to another name
               .Decode();
  EXPECT_EQ(Names(e), (std::vector<std::string>{"ORPHAN~1.TXT", "PLAIN.TXT"}));
}

TEST(FatLongNames, PathSeparatorsInALongNameAreRefused) {
  auto e = Folder().Long("a\\b.txt", "AB      TXT").Short("AB      TXT", 0x20).Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.name, "AB.TXT");
}

TEST(FatFolderSlots, ErasedLabelAndDotsSkippedAndTheEndMarkEndsTheFolder) {
  std::vector<uint8_t> erased(32, 0);
  erased[0] = 0xE5;
  std::vector<uint8_t> end(32, 0);
  auto e = Folder()
               .Short(".          ", 0x10, 0, 5)
               .Short("..         ", 0x10, 0, 0)
               .Short("MYLABEL    ", 0x08)
               .Raw(erased)
               .Short("KEEP    TXT", 0x20, 1)
               .Short("SUB        ", 0x10, 1234, 9)
               .Raw(end)
               .Short("AFTER   TXT", 0x20)
               .Decode();
  ASSERT_EQ(Names(e), (std::vector<std::string>{"KEEP.TXT", "SUB"}));
  EXPECT_TRUE(e[1].IsFolder());
  EXPECT_EQ(e[1].entry.size, 0u) << "folders report no size";
  EXPECT_EQ(e[1].entry.attributes, nt::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(e[1].firstCluster, 9u);
}

TEST(FatFolderSlots, AFolderCutInsideASlotEndsThere) {
  std::vector<uint8_t> bytes(48, 0x41);  // a slot and a half of 'A'
  auto whole = DecodeFolder(vr::Bytes(bytes));
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].entry.name, "AAAAAAAA.AAA");
}

TEST(FatAttributes, MappedToNtAttributes) {
  using platform::fat::NtAttributes;
  EXPECT_EQ(NtAttributes(0), nt::FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(NtAttributes(0x27), nt::FILE_ATTRIBUTE_READONLY | nt::FILE_ATTRIBUTE_HIDDEN |
                                    nt::FILE_ATTRIBUTE_SYSTEM | nt::FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(NtAttributes(0x10), nt::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(NtAttributes(0xC0), nt::FILE_ATTRIBUTE_NORMAL) << "reserved bits are not reported";
}

// FILETIME of a UTC date and time, computed with the C library.
uint64_t Expected(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return (static_cast<uint64_t>(timegm(&t)) + 11644473600ull) * 10000000ull;
}

uint16_t Date(int y, int m, int d) {
  return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
uint16_t Time(int h, int m, int s) { return static_cast<uint16_t>((h << 11) | (m << 5) | (s / 2)); }

TEST(FatDates, ConvertedToFileTimeTakenAsUtc) {
  using platform::fat::FatTimeToFileTime;
  EXPECT_EQ(FatTimeToFileTime(Date(2000, 1, 1), 0, 0), Expected(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(FatTimeToFileTime(Date(2024, 2, 29), Time(23, 59, 58), 0),
            Expected(2024, 2, 29, 23, 59, 58));
  EXPECT_EQ(FatTimeToFileTime(Date(1980, 1, 1), Time(12, 30, 10), 150),
            Expected(1980, 1, 1, 12, 30, 11) + 5000000)
      << "10 ms units add 1.5 s";
  EXPECT_EQ(FatTimeToFileTime(Date(2107, 12, 31), Time(0, 0, 0), 0),
            Expected(2107, 12, 31, 0, 0, 0));
  EXPECT_EQ(FatTimeToFileTime(0, Time(1, 2, 4), 0), 0u) << "no date";
  EXPECT_EQ(FatTimeToFileTime(Date(2023, 2, 29), 0, 0), 0u) << "no such day";
  EXPECT_EQ(FatTimeToFileTime(Date(2023, 13, 1), 0, 0), 0u);
  EXPECT_EQ(FatTimeToFileTime(Date(2023, 1, 1), Time(24, 0, 0), 0), 0u);
}

TEST(FatDates, SlotTimesReachTheEntry) {
  std::vector<uint8_t> slot(32, 0);
  std::memcpy(slot.data(), "DATED   TXT", 11);
  slot[11] = 0x20;
  const uint16_t cdate = Date(1999, 12, 31), ctime = Time(23, 0, 0), adate = Date(2001, 6, 15);
  const uint16_t wdate = Date(2000, 3, 4), wtime = Time(5, 6, 8);
  auto put = [&](int at, uint16_t v) {
    slot[at] = static_cast<uint8_t>(v);
    slot[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  slot[0x0D] = 100;
  put(0x0E, ctime);
  put(0x10, cdate);
  put(0x12, adate);
  put(0x16, wtime);
  put(0x18, wdate);
  auto e = Folder().Raw(slot).Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].entry.creationTime, Expected(1999, 12, 31, 23, 0, 1));
  EXPECT_EQ(e[0].entry.lastAccessTime, Expected(2001, 6, 15, 0, 0, 0));
  EXPECT_EQ(e[0].entry.lastWriteTime, Expected(2000, 3, 4, 5, 6, 8));
}

TEST(FatNames, MatchingIgnoresCaseForLongAndShortNames) {
  auto e = Folder().Long("Mixed Case.txt", "MIXEDC~1TXT").Short("MIXEDC~1TXT", 0x20).Decode();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_TRUE(platform::fat::NameMatches(e[0], "MIXED CASE.TXT"));
  EXPECT_TRUE(platform::fat::NameMatches(e[0], "mixedc~1.txt"));
  EXPECT_FALSE(platform::fat::NameMatches(e[0], "Mixed Case"));
  EXPECT_FALSE(platform::fat::NameMatches(e[0], "MIXEDC~1"));
}

}  // namespace
