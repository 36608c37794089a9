// Whole-disk images: the partition device's bounds, drive map entries that
// pick a partition, and disks made by sfdisk with an MBR or a GPT holding a
// FAT16 and an NTFS volume.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "drivers/builtin_drivers.h"
#include "platform/block_device.h"
#include "platform/nt.h"
#include "platform/partitions.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "support/volume_images.h"

namespace {

using namespace nt;
using platform::DriveEntry;

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return bytes;
}

TEST(PartitionDeviceTest, NoTransferLeavesThePartition) {
  auto disk = std::make_shared<platform::MemoryDevice>(Pattern(64 * 1024));
  const std::vector<uint8_t> before = disk->Bytes();
  auto log = std::make_shared<platform::WriteLogDevice>(disk);
  const uint64_t start = 8192, length = 16384;
  platform::PartitionDevice part(log, start, length);
  EXPECT_EQ(part.Size(), length);

  std::vector<uint8_t> sector(512, 0xEE), read(512);
  EXPECT_TRUE(part.Write(0, sector.data(), 512));
  EXPECT_TRUE(part.Write(length - 512, sector.data(), 512));
  EXPECT_FALSE(part.Write(length - 511, sector.data(), 512)) << "runs one byte past the end";
  EXPECT_FALSE(part.Write(length, sector.data(), 512));
  EXPECT_FALSE(part.Write(UINT64_MAX - 100, sector.data(), 512)) << "offset wraps around";
  std::vector<uint8_t> big(length + 512, 0xEE);
  EXPECT_FALSE(part.Write(0, big.data(), big.size())) << "longer than the partition";
  EXPECT_FALSE(part.Read(length - 256, read.data(), 512));
  ASSERT_TRUE(part.Read(512, read.data(), 512));
  EXPECT_TRUE(std::equal(read.begin(), read.end(), before.begin() + start + 512));

  // Every write that reached the disk lies inside the partition, and every
  // byte outside it is as it was.
  ASSERT_EQ(log->Log().size(), 2u);
  for (const auto& e : log->Log()) {
    EXPECT_GE(e.offset, start);
    EXPECT_LE(e.offset + e.bytes.size(), start + length);
  }
  const std::vector<uint8_t>& after = disk->Bytes();
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + start, before.begin()));
  EXPECT_TRUE(
      std::equal(after.begin() + start + length, after.end(), before.begin() + start + length));
  EXPECT_EQ(after[start], 0xEE);
  EXPECT_EQ(after[start + length - 1], 0xEE);

  // A partition the table places past the end of its disk is cut to it.
  platform::PartitionDevice tail(disk, 60 * 1024, 16 * 1024);
  EXPECT_EQ(tail.Size(), 4u * 1024);
  EXPECT_FALSE(tail.Write(4 * 1024, sector.data(), 512));
}

TEST(PartitionDeviceTest, DriveMapEntriesPickAPartitionOrAnOffset) {
  std::vector<DriveEntry> drives;
  std::string error;
  ASSERT_TRUE(platform::ParseDriveMap("c=/d.img,partition=2;d=/d.img,offset=2048,busy=a.txt",
                                      drives, error))
      << error;
  EXPECT_EQ(drives[0].partition, 2);
  EXPECT_EQ(drives[0].offsetSector, -1);
  EXPECT_EQ(drives[1].partition, 0);
  EXPECT_EQ(drives[1].offsetSector, 2048);
  EXPECT_EQ(drives[1].busyFiles.size(), 1u);
  for (const char* bad :
       {"c=/d.img,partition=0", "c=/d.img,partition=x", "c=/d.img,partition=", "c=/d.img,offset=-5",
        "c=/d.img,partition=1,offset=2048", "c=/d.img,partition=1,partition=2"}) {
    EXPECT_FALSE(platform::ParseDriveMap(bad, drives, error)) << bad;
    EXPECT_NE(error.find("c:"), std::string::npos) << error;
  }
}

// A whole disk with a FAT16 volume in partition 1 and an NTFS volume in
// partition 2, under each kind of partition table.
class WholeDiskTest : public ::testing::TestWithParam<std::string> {
 protected:
  // The two volumes are built once; each test gets a fresh disk of them.
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();  // NTFS volumes are measured by their driver
    if (testsupport::FindTool("sfdisk").empty()) GTEST_SKIP() << "sfdisk not installed";
    static std::string fat, ntfs;
    std::string error;
    if (fat.empty()) {
      fat = testsupport::TempPath("part-fat16.img");
      testsupport::BuildFat16Fixture(fat);
      ntfs = testsupport::TempPath("part-ntfs.img");
      ASSERT_TRUE(testsupport::MakeNtfsImage(ntfs, 8, 4096, "PARTNTFS", error)) << error;
    }
    fat_ = fat;
    ntfs_ = ntfs;
    disk_ = testsupport::TempPath("disk-" + GetParam() + ".img");
    const bool gpt = GetParam() == "gpt";
    const std::string data = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
    ASSERT_TRUE(testsupport::MakeWholeDisk(disk_, GetParam(), {fat_, ntfs_},
                                           {gpt ? data : "6", gpt ? data : "7"}, starts_, error))
        << error;
  }
  void TearDown() override { platform::ResetPlatform(); }

  std::string FileSystem(char letter) {
    char fs[32] = {};
    const std::string root = std::string(1, letter) + ":\\";
    if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof fs))
      return "";
    return fs;
  }

  std::string fat_, ntfs_, disk_;
  std::vector<uint64_t> starts_;
};

INSTANTIATE_TEST_SUITE_P(Tables, WholeDiskTest, ::testing::Values("dos", "gpt"),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                           return p.param == "dos" ? std::string("Mbr") : std::string("Gpt");
                         });

TEST_P(WholeDiskTest, TableIsReadAndEachPartitionIsItsVolume) {
  platform::PartitionTable table;
  ASSERT_TRUE(platform::ReadPartitionTable(disk_, table));
  EXPECT_EQ(table.kind, GetParam());
  ASSERT_EQ(table.partitions.size(), 2u);
  const uint64_t sizes[2] = {testsupport::ReadFileBytes(fat_).size() / 512,
                             testsupport::ReadFileBytes(ntfs_).size() / 512};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(table.partitions[i].number, i + 1);
    EXPECT_EQ(table.partitions[i].startSector, starts_[i]);
    EXPECT_EQ(table.partitions[i].sectors, sizes[i]);
  }
  if (GetParam() == "dos") {
    EXPECT_EQ(table.partitions[0].typeCode, "0x06");
    EXPECT_EQ(table.partitions[1].typeCode, "0x07");
  }
  const std::vector<std::string> lines = platform::PartitionLines(table);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("partition=2  start=" + std::to_string(starts_[1]) +
                               "  sectors=" + std::to_string(sizes[1]) + "  8.0 MB  ",
                           0),
            0u)
      << lines[1];

  // c: and d: the two partitions, e: the whole disk, f: the NTFS volume by
  // its offset, g: a partition the table does not have.
  platform::SetDriveMap({DriveEntry{'c', disk_, {}, 1, -1}, DriveEntry{'d', disk_, {}, 2, -1},
                         DriveEntry{'e', disk_, {}, 0, -1},
                         DriveEntry{'f', disk_, {}, 0, static_cast<int64_t>(starts_[1])},
                         DriveEntry{'g', disk_, {}, 3, -1}});
  EXPECT_EQ(FileSystem('c'), "FAT");
  EXPECT_EQ(FileSystem('d'), "NTFS");
  EXPECT_EQ(FileSystem('f'), "NTFS");
  DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA("d:\\", &spc, &bps, &freeClusters, &total));
  // The NTFS geometry is the partition's, not the disk's.
  EXPECT_LE(uint64_t{total} * spc, sizes[1] - 1);
  EXPECT_GT(uint64_t{total} * spc, sizes[1] - 1 - spc);

  EXPECT_EQ(FileSystem('e'), "");
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
  platform::PartitionTable listed;
  EXPECT_TRUE(platform::WholeDiskTable('e', listed));
  EXPECT_EQ(listed.partitions.size(), 2u);
  EXPECT_FALSE(platform::WholeDiskTable('c', listed)) << "a chosen partition is no whole disk";

  EXPECT_EQ(FileSystem('g'), "");
  EXPECT_NE(platform::LastDriveFailure().find(disk_ + ": no partition 3"), std::string::npos)
      << platform::LastDriveFailure();
}

TEST_P(WholeDiskTest, WritesThroughAPartitionStayInIt) {
  platform::SetDriveMap({DriveEntry{'c', disk_, {}, 1, -1}});
  const std::vector<uint8_t> before = testsupport::ReadFileBytes(disk_);
  const uint64_t start = starts_[0] * 512;
  const uint64_t length = testsupport::ReadFileBytes(fat_).size();
  HANDLE h = CreateFileA("\\\\.\\c:", kRW, 0, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n, nullptr));
  std::vector<uint8_t> data(1024, 0x5A);
  auto seek = [&](uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetFilePointer(h, static_cast<LONG>(offset), &high, FILE_BEGIN);
  };
  seek(0);
  EXPECT_TRUE(WriteFile(h, data.data(), 512, &n, nullptr));
  seek(length - 512);
  EXPECT_TRUE(WriteFile(h, data.data(), 512, &n, nullptr));
  seek(length - 512);
  EXPECT_FALSE(WriteFile(h, data.data(), 1024, &n, nullptr)) << "one sector past the end";
  seek(length);
  EXPECT_FALSE(WriteFile(h, data.data(), 512, &n, nullptr));
  CloseHandle(h);

  const std::vector<uint8_t> after = testsupport::ReadFileBytes(disk_);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + start, before.begin()))
      << "the table and the gap before the partition are untouched";
  EXPECT_TRUE(
      std::equal(after.begin() + start + length, after.end(), before.begin() + start + length))
      << "the NTFS partition and the end of the disk are untouched";
  EXPECT_EQ(after[start], 0x5A);
  EXPECT_EQ(after[start + length - 1], 0x5A);
}

}  // namespace
