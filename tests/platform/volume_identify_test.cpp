// Identification and free-cluster counts on volumes made by the real tools.
#include "platform/volume_identify.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/volume_images.h"

namespace {

using platform::IdentifyResult;
using platform::VolumeFacts;
using testsupport::RunCommand;
using testsupport::ShellQuote;

IdentifyResult IdentifyImage(const std::string& path, VolumeFacts& facts, std::string& reason) {
  int err = 0;
  auto d = platform::OpenFileDevice(path, false, err);
  if (!d) {
    reason = "cannot open";
    return IdentifyResult::kReadFailed;
  }
  return platform::IdentifyVolume(*d, facts, reason);
}

uint64_t FreeOf(const std::string& path, VolumeFacts& facts) {
  int err = 0;
  auto d = platform::OpenFileDevice(path, false, err);
  uint64_t free = 0;
  std::string reason;
  bool readFailed = false;
  EXPECT_TRUE(platform::CountFreeClusters(d, facts, free, reason, readFailed)) << reason;
  return free;
}

// "x/y clusters" from the last line of fsck.fat -n -v: used and total.
void FsckFatCounts(const std::string& path, uint64_t& used, uint64_t& total) {
  std::string out;
  ASSERT_EQ(RunCommand(testsupport::FindTool("fsck.fat") + " -n -v " + ShellQuote(path), out), 0)
      << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"((\d+)/(\d+) clusters)"))) << out;
  used = std::stoull(m[1]);
  total = std::stoull(m[2]);
}

// Puts a few files on a FAT image with mtools.
void FillFat(const std::string& image, int files, int kb) {
  for (int i = 0; i < files; ++i) {
    const std::string src = testsupport::TempPath("file" + std::to_string(i));
    ASSERT_EQ(RunCommand("head -c " + std::to_string(kb * 1024 + i * 300) + " /dev/urandom > " +
                         ShellQuote(src)),
              0);
    std::string out;
    ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(image) + " " +
                             ShellQuote(src) + " ::F" + std::to_string(i) + ".BIN",
                         out),
              0)
        << out;
  }
}

TEST(NtfsGeometry, ClusterSizeAboveEightyIsAPowerOfTwo) {
  EXPECT_EQ(platform::NtfsSectorsPerCluster(8), 8u);
  EXPECT_EQ(platform::NtfsSectorsPerCluster(0x80), 128u);
  EXPECT_EQ(platform::NtfsSectorsPerCluster(0xF8), 256u);  // 2^(256-248): 128 KB clusters
  EXPECT_EQ(platform::NtfsSectorsPerCluster(0xF4), 4096u);
}

TEST(NtfsGeometry, RecordSizesAreSigned) {
  EXPECT_EQ(platform::NtfsRecordBytes(static_cast<int8_t>(0xF6), 4096), 1024u);
  EXPECT_EQ(platform::NtfsRecordBytes(static_cast<int8_t>(0xF4), 4096), 4096u);
  EXPECT_EQ(platform::NtfsRecordBytes(2, 512), 1024u) << "positive: clusters";
  EXPECT_EQ(platform::NtfsRecordBytes(1, 4096), 4096u);
}

TEST(FatEntries, TwelveBitEntriesAreUnpackedInPairs) {
  // Entries 2 = 0x123 and 3 = 0x456 packed as 23 61 45 after entries 0 and 1.
  const std::vector<uint8_t> fat{0xF0, 0xFF, 0xFF, 0x23, 0x61, 0x45};
  EXPECT_EQ(platform::FatEntry(fat, 12, 2), 0x123u);
  EXPECT_EQ(platform::FatEntry(fat, 12, 3), 0x456u);
  EXPECT_EQ(platform::FatEntry(fat, 16, 2), 0x4561u);
  EXPECT_THROW(platform::FatEntry(fat, 12, 4), vr::RunError) << "past the FAT: checked";
}

TEST(Identify, Fat12FromMkfsFat) {
  const std::string img = testsupport::TempPath("fat12.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "", "FLOPPY", error)) << error;
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.fileSystem, "FAT");
  EXPECT_EQ(f.fatBits, 12);
  EXPECT_EQ(f.reservedSectors, 1u);
  EXPECT_EQ(f.label, "FLOPPY");
  uint64_t used = 0, total = 0;
  FsckFatCounts(img, used, total);
  EXPECT_EQ(f.totalClusters, total);
}

TEST(Identify, Fat16FreeClustersAgreeWithFsck) {
  const std::string img = testsupport::TempPath("fat16.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(img, 20000, 16, "", "DATA16", error)) << error;
  FillFat(img, 5, 37);
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.fileSystem, "FAT");
  EXPECT_EQ(f.fatBits, 16);
  uint64_t used = 0, total = 0;
  FsckFatCounts(img, used, total);
  ASSERT_GT(used, 0u);
  EXPECT_EQ(f.totalClusters, total);
  EXPECT_EQ(FreeOf(img, f), total - used);
}

TEST(Identify, Fat12FreeCountUsesTwelveBitEntries) {
  const std::string img = testsupport::TempPath("fat12f.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "", "", error)) << error;
  FillFat(img, 3, 100);
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  uint64_t used = 0, total = 0;
  FsckFatCounts(img, used, total);
  EXPECT_EQ(FreeOf(img, f), total - used);
}

TEST(Identify, FatPositionsCountFromTheReservedSectors) {
  const std::string img = testsupport::TempPath("fat16r8.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImageDefaultReserved(img, 20000, 16, "-R 8", "", error)) << error;
  FillFat(img, 4, 50);
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.reservedSectors, 8u);
  uint64_t used = 0, total = 0;
  FsckFatCounts(img, used, total);
  EXPECT_EQ(f.totalClusters, total);
  EXPECT_EQ(FreeOf(img, f), total - used);
}

TEST(Identify, RootDirectoryLabelWinsOverTheBootSector) {
  const std::string img = testsupport::TempPath("label.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "", "OLDNAME", error)) << error;
  // mlabel changes the root-directory entry; patch the boot-sector copy back.
  std::string out;
  ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 mlabel -i " + ShellQuote(img) + " ::NEWNAME", out), 0)
      << out;
  auto bytes = testsupport::ReadFileBytes(img);
  std::copy_n("OLDNAME    ", 11, bytes.begin() + 0x2B);
  ASSERT_TRUE(testsupport::WriteFileBytes(img, bytes));
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.label, "NEWNAME");
}

TEST(Identify, Fat32IsReportedByItsOwnName) {
  const std::string img = testsupport::TempPath("fat32.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImageDefaultReserved(img, 40000, 32, "", "", error)) << error;
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.fileSystem, "FAT32");
}

TEST(Identify, FatWithKilobyteSectorsIsRefused) {
  const std::string img = testsupport::TempPath("fat1k.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(img, 20000, 16, "-S 1024", "", error)) << error;
  VolumeFacts f;
  std::string reason;
  EXPECT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kUnrecognized);
  EXPECT_NE(reason.find("1024 bytes per sector"), std::string::npos) << reason;
}

TEST(Identify, NtfsWithFourKilobyteClusters) {
  const std::string img = testsupport::TempPath("ntfs4k.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 40, 4096, "NtfsVol", error)) << error;
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.fileSystem, "NTFS");
  EXPECT_EQ(f.sectorsPerCluster, 8u);
  EXPECT_EQ(f.bytesPerFileRecord, 1024u);
  EXPECT_EQ(f.bytesPerIndexBlock, 4096u);
}

TEST(Identify, NtfsWith64KbClusters) {
  const std::string img = testsupport::TempPath("ntfs64k.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 64, 65536, "", error)) << error;
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.sectorsPerCluster, 128u);
  EXPECT_EQ(f.bytesPerFileRecord, 1024u) << "0xF6 with 64 KB clusters is still 1 KB";
  EXPECT_EQ(f.totalClusters, f.totalSectors / 128);
}

TEST(Identify, NtfsWith128KbClustersUsesTheExponentForm) {
  const std::string img = testsupport::TempPath("ntfs128k.img");
  std::string error;
  if (!testsupport::MakeNtfsImage(img, 64, 131072, "", error)) GTEST_SKIP() << "mkntfs: " << error;
  ASSERT_EQ(testsupport::ReadFileBytes(img)[0x0D], 0xF8);
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.sectorsPerCluster, 256u);
  EXPECT_EQ(f.totalClusters, f.totalSectors / 256);
}

TEST(Identify, NtfsWithFourKilobyteSectorsIsRefused) {
  const std::string img = testsupport::TempPath("ntfs4ks.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 16, 0, "", error, "-s 4096")) << error;
  VolumeFacts f;
  std::string reason;
  EXPECT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kUnrecognized);
  EXPECT_NE(reason.find("4096 bytes per sector"), std::string::npos) << reason;
}

TEST(Identify, Ext4ByItsSuperblock) {
  const std::string img = testsupport::TempPath("ext4.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeExt4Image(img, 16, "linuxvol", error)) << error;
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(IdentifyImage(img, f, reason), IdentifyResult::kOk) << reason;
  EXPECT_EQ(f.fileSystem, "ext4");
  EXPECT_EQ(f.label, "linuxvol");
  std::string out;
  ASSERT_EQ(RunCommand("dumpe2fs -h " + ShellQuote(img), out), 0) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Block count:\s+(\d+))")));
  EXPECT_EQ(f.totalClusters, std::stoull(m[1]));
}

TEST(Identify, ShortOrUnknownVolumes) {
  VolumeFacts f;
  std::string reason;
  platform::MemoryDevice tiny(std::vector<uint8_t>(300, 0));
  EXPECT_EQ(platform::IdentifyVolume(tiny, f, reason), IdentifyResult::kReadFailed);
  platform::MemoryDevice zeros(std::vector<uint8_t>(65536, 0));
  EXPECT_EQ(platform::IdentifyVolume(zeros, f, reason), IdentifyResult::kUnrecognized);
}

TEST(Identify, DamagedFatGeometryIsRefusedNotMisread) {
  const std::string img = testsupport::TempPath("fatbad.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "", "", error)) << error;
  auto bytes = testsupport::ReadFileBytes(img);
  bytes[0x16] = 1;  // one sector per FAT cannot hold 2847 entries
  bytes[0x17] = 0;
  VolumeFacts f;
  std::string reason;
  EXPECT_EQ(platform::IdentifyBootBytes(bytes, f, reason), IdentifyResult::kUnrecognized);
}

// A FAT12 boot sector: 1 reserved sector, 1 FAT of 1 sector, 16 root
// entries, one sector per cluster.
std::vector<uint8_t> Fat12Boot(uint16_t totalSectors, uint8_t sectorsPerFat = 1) {
  std::vector<uint8_t> b(512, 0);
  b[0] = 0xEB;
  b[0x0B] = 0x00, b[0x0C] = 0x02;  // 512 bytes per sector
  b[0x0D] = 1;
  b[0x0E] = 1;
  b[0x10] = 1;
  b[0x11] = 16;
  b[0x13] = static_cast<uint8_t>(totalSectors), b[0x14] = static_cast<uint8_t>(totalSectors >> 8);
  b[0x16] = sectorsPerFat;
  return b;
}

TEST(Identify, AFatJustLargeEnoughIsAccepted) {
  VolumeFacts f;
  std::string reason;
  // 512 bytes hold 341 twelve-bit entries: clusters 2 .. 340 (339 clusters).
  ASSERT_EQ(platform::IdentifyBootBytes(Fat12Boot(3 + 339), f, reason), IdentifyResult::kOk)
      << reason;
  EXPECT_EQ(f.totalClusters, 339u);
  EXPECT_EQ(f.firstDataSector, 3u);
  EXPECT_EQ(platform::IdentifyBootBytes(Fat12Boot(3 + 340), f, reason),
            IdentifyResult::kUnrecognized);
}

TEST(Identify, EntryWidthFollowsTheFormatRule) {
  VolumeFacts f;
  std::string reason;
  // 16 FAT sectors: the data area starts at sector 18.
  ASSERT_EQ(platform::IdentifyBootBytes(Fat12Boot(18 + 4084, 16), f, reason), IdentifyResult::kOk);
  EXPECT_EQ(f.totalClusters, 4084u);
  EXPECT_EQ(f.fatBits, 12) << "4081 to 4084 clusters are FAT12";
  ASSERT_EQ(platform::IdentifyBootBytes(Fat12Boot(18 + 4085, 16), f, reason), IdentifyResult::kOk);
  EXPECT_EQ(f.fatBits, 16);
}

TEST(Identify, ExFatIsReportedByItsOwnName) {
  std::vector<uint8_t> boot(4096, 0);
  boot[0] = 0xEB;
  std::copy_n("EXFAT   ", 8, boot.begin() + 3);
  VolumeFacts f;
  std::string reason;
  ASSERT_EQ(platform::IdentifyBootBytes(boot, f, reason), IdentifyResult::kOk);
  EXPECT_EQ(f.fileSystem, "exFAT");
}

// Damaged boot sectors end in a refusal, never in a crash or a wild read.
TEST(Identify, RandomBootSectorsNeverEscape) {
  std::string error;
  const std::string fatImg = testsupport::TempPath("fuzz-fat.img");
  const std::string ntfsImg = testsupport::TempPath("fuzz-ntfs.img");
  ASSERT_TRUE(testsupport::MakeFatImage(fatImg, 1440, 12, "", "", error)) << error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(ntfsImg, 8, 4096, "", error)) << error;
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (const std::string& img : {fatImg, ntfsImg}) {
    const auto original = testsupport::ReadFileBytes(img);
    for (int round = 0; round < 300; ++round) {
      auto bytes = original;
      // Garble the geometry fields between the OEM name and 0x50.
      for (int k = 0; k < 6; ++k)
        bytes[0x0B + next() % (0x50 - 0x0B)] = static_cast<uint8_t>(next() >> 16);
      auto device = std::make_shared<platform::MemoryDevice>(bytes);
      VolumeFacts f;
      std::string reason;
      IdentifyResult r = IdentifyResult::kOk;
      ASSERT_NO_THROW(r = platform::IdentifyVolume(*device, f, reason));
      if (r != IdentifyResult::kOk) continue;
      uint64_t free = 0;
      bool readFailed = false;
      ASSERT_NO_THROW(platform::CountFreeClusters(device, f, free, reason, readFailed));
      if (f.totalClusters > 0 && (f.fileSystem == "FAT" || f.fileSystem == "NTFS")) {
        EXPECT_LE(free, f.totalClusters);
      }
    }
  }
}

}  // namespace
