// Raw volume handles: opens and share modes, the lock, sector transfers,
// faults, and the volume queries with their error codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "drivers/builtin_drivers.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "platform/platform_state.h"
#include "support/volume_images.h"

namespace {

using namespace nt;
using platform::DriveEntry;

class NtVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();  // NTFS volumes are measured by their driver
    ::unsetenv("VODURU_FAULTS");
  }
  void TearDown() override {
    ::unsetenv("VODURU_FAULTS");
    platform::ResetPlatform();
  }
  // A 64-sector image whose sector n holds the byte n everywhere.
  std::string MakeImage(const std::string& name, size_t sectors = 64) {
    std::vector<uint8_t> bytes(sectors * 512);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 512);
    const std::string path = testsupport::TempPath(name);
    EXPECT_TRUE(testsupport::WriteFileBytes(path, bytes));
    return path;
  }
  void Map(char letter, const std::string& path, std::vector<std::string> busy = {}) {
    auto drives = platform::DriveMap();
    drives.push_back(DriveEntry{letter, path, std::move(busy)});
    platform::SetDriveMap(drives);
  }
  static HANDLE Open(const std::string& name, DWORD access, DWORD share) {
    return CreateFileA(name, access, share, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
  }
  static void Seek(HANDLE h, int64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetFilePointer(h, static_cast<LONG>(offset), &high, FILE_BEGIN);
  }
};

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;

TEST_F(NtVolumeTest, ExclusiveOpenReadsSectorsCaseInsensitively) {
  Map('c', MakeImage("a.img"));
  HANDLE h = Open("\\\\.\\C:", GENERIC_READ, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_GT(h, 0);
  std::vector<uint8_t> buf(1024);
  DWORD got = 0;
  Seek(h, 5 * 512);
  ASSERT_TRUE(ReadFile(h, buf.data(), 1024, &got, nullptr));
  EXPECT_EQ(got, 1024u);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(buf[1023], 6);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h)) << "closing twice";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(NtVolumeTest, UnmappedAndMissingDrives) {
  Map('d', testsupport::TempDir() + "/missing.img");
  EXPECT_EQ(Open("\\\\.\\q:", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("\\\\.\\d:", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("\\\\.\\d:", GENERIC_READ, 3), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(NtVolumeTest, BusyFilesMakeTheVolumeSharedOnly) {
  Map('c', MakeImage("busy.img"), {"pagefile.sys"});
  EXPECT_EQ(Open("\\\\.\\c:", kRW, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE h = Open("\\\\.\\c:", kRW, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD n = 0;
  EXPECT_FALSE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n, nullptr))
      << "others hold files open: no lock";
  std::vector<uint8_t> buf(512);
  EXPECT_TRUE(ReadFile(h, buf.data(), 512, &n, nullptr));
  EXPECT_FALSE(WriteFile(h, buf.data(), 512, &n, nullptr)) << "no write without the lock";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, AnotherProcessHoldingTheImageMakesItInUse) {
  const std::string img = MakeImage("flocked.img");
  Map('c', img);
  const std::string ready = testsupport::TempPath("ready");
  // flock(1) holds an exclusive lock on the image while its command runs.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setpgid(0, 0);  // one group, so the sleeping command ends with flock
    ::execlp("flock", "flock", img.c_str(), "sh", "-c", ("touch " + ready + "; sleep 5").c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 200 && ::access(ready.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(::access(ready.c_str(), F_OK), 0) << "flock did not start";

  EXPECT_EQ(Open("\\\\.\\c:", kRW, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE h = Open("\\\\.\\c:", kRW, 3);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the shared fallback works";
  EXPECT_FALSE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  CloseHandle(h);

  ::kill(-child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  // The sleeping command holds the lock until it has exited too.
  for (int i = 0; i < 200 && (h = Open("\\\\.\\c:", kRW, 0)) == INVALID_HANDLE_VALUE; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "free again once the other process ends";
  CloseHandle(h);
}

TEST_F(NtVolumeTest, ExclusiveOpenHoldsOffOtherProcesses) {
  const std::string img = MakeImage("held.img");
  Map('c', img);
  HANDLE h = Open("\\\\.\\c:", GENERIC_READ, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_NE(testsupport::RunCommand("flock -n " + testsupport::ShellQuote(img) + " true"), 0);
  CloseHandle(h);
  EXPECT_EQ(testsupport::RunCommand("flock -n " + testsupport::ShellQuote(img) + " true"), 0);
}

TEST_F(NtVolumeTest, SecondHandleOfThisProcess) {
  Map('c', MakeImage("two.img"));
  HANDLE shared = Open("\\\\.\\c:", GENERIC_READ, 3);
  ASSERT_NE(shared, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("\\\\.\\c:", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE shared2 = Open("\\\\.\\c:", kRW, 3);
  EXPECT_NE(shared2, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeviceIoControl(shared, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr))
      << "another handle is open";
  CloseHandle(shared2);
  CloseHandle(shared);

  HANDLE excl = Open("\\\\.\\c:", GENERIC_READ, 0);
  ASSERT_NE(excl, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("\\\\.\\c:", GENERIC_READ, 3), INVALID_HANDLE_VALUE)
      << "exclusive keeps out shared";
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(excl);
}

TEST_F(NtVolumeTest, LockUnlockAndLockedWrites) {
  const std::string img = MakeImage("lock.img");
  Map('c', img);
  HANDLE h = Open("\\\\.\\c:", kRW, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> data(1024, 0x77);
  DWORD n = 0;
  Seek(h, 2 * 512);
  EXPECT_FALSE(WriteFile(h, data.data(), 1024, &n, nullptr)) << "not locked yet";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeviceIoControl(h, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &n, nullptr));
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(Open("\\\\.\\c:", GENERIC_READ, 3), INVALID_HANDLE_VALUE)
      << "a locked volume opens to nobody";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(WriteFile(h, data.data(), 1024, &n, nullptr)) << GetLastError();
  EXPECT_EQ(n, 1024u);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &n, nullptr));
  Seek(h, 4 * 512);
  EXPECT_FALSE(WriteFile(h, data.data(), 512, &n, nullptr)) << "unlocked again";
  CloseHandle(h);
  const auto bytes = testsupport::ReadFileBytes(img);
  EXPECT_EQ(bytes[2 * 512], 0x77);
  EXPECT_EQ(bytes[4 * 512 - 1], 0x77);
  EXPECT_EQ(bytes[4 * 512], 4);
}

TEST_F(NtVolumeTest, CloseReleasesTheLock) {
  Map('c', MakeImage("lockclose.img"));
  HANDLE h = Open("\\\\.\\c:", kRW, 0);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  CloseHandle(h);
  HANDLE again = Open("\\\\.\\c:", kRW, 0);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeviceIoControl(again, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  CloseHandle(again);
}

TEST_F(NtVolumeTest, ReadOnlyHandleRefusesWrites) {
  Map('c', MakeImage("ro.img"));
  HANDLE h = Open("\\\\.\\c:", GENERIC_READ, 0);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  std::vector<uint8_t> data(512, 1);
  DWORD n = 99;
  EXPECT_FALSE(WriteFile(h, data.data(), 512, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, WriteAccessToAReadOnlyVolumeIsDenied) {
  platform::MapMemoryDrive(
      'm', std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(4096), true));
  EXPECT_EQ(Open("\\\\.\\m:", kRW, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE h = Open("\\\\.\\m:", GENERIC_READ, 0);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, UnalignedTransfersAreRefused) {
  Map('c', MakeImage("align.img"));
  HANDLE h = Open("\\\\.\\c:", kRW, 0);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  std::vector<uint8_t> buf(1024);
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(h, buf.data(), 100, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Seek(h, 100);
  EXPECT_FALSE(ReadFile(h, buf.data(), 512, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(WriteFile(h, buf.data(), 512, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, AShortTransferAtTheEndIsAFailedCall) {
  Map('c', MakeImage("end.img", 8));
  HANDLE h = Open("\\\\.\\c:", GENERIC_READ, 0);
  std::vector<uint8_t> buf(2048, 0xCC);
  DWORD n = 99;
  Seek(h, 6 * 512);
  EXPECT_FALSE(ReadFile(h, buf.data(), 2048, &n, nullptr)) << "only 2 of 4 sectors exist";
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  EXPECT_EQ(n, 0u);
  Seek(h, 6 * 512);
  EXPECT_TRUE(ReadFile(h, buf.data(), 1024, &n, nullptr)) << "the position did not move";
  EXPECT_EQ(buf[0], 6);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, SixtyFourBitSeek) {
  platform::MapMemoryDrive('m',
                           std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(512)));
  HANDLE h = Open("\\\\.\\m:", GENERIC_READ, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Sector 8388608 = byte 2^32: low 0, high 1.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_BEGIN), 0u);
  EXPECT_EQ(high, 1);
  high = 0;
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0x80000000u), &high, FILE_BEGIN), 0x80000000u);
  EXPECT_EQ(high, 0);
  std::vector<uint8_t> buf(512);
  EXPECT_FALSE(ReadFile(h, buf.data(), 512, nullptr, nullptr)) << "past the end";
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(99999, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, FaultsFromTheEnvironmentFailTheNthRead) {
  Map('c', MakeImage("fault.img"));
  ::setenv("VODURU_FAULTS", "c:read=2", 1);
  HANDLE h = Open("\\\\.\\c:", GENERIC_READ, 0);
  std::vector<uint8_t> buf(512);
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, buf.data(), 512, &n, nullptr));
  EXPECT_FALSE(ReadFile(h, buf.data(), 512, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
  EXPECT_TRUE(ReadFile(h, buf.data(), 512, &n, nullptr));
  CloseHandle(h);
}

TEST_F(NtVolumeTest, FaultsSetAfterAnEarlierUseStillApply) {
  Map('c', MakeImage("fault2.img"));
  HANDLE h = Open("\\\\.\\c:", GENERIC_READ, 0);
  CloseHandle(h);
  ::setenv("VODURU_FAULTS", "c:read=1", 1);
  h = Open("\\\\.\\c:", GENERIC_READ, 0);
  std::vector<uint8_t> buf(512);
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(h, buf.data(), 512, &n, nullptr));
  CloseHandle(h);
}

TEST_F(NtVolumeTest, WrapperSeesEveryWriteAndAWriteFaultFailsTheCall) {
  auto mem = std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(8192, 0));
  platform::MapMemoryDrive('m', mem);
  std::shared_ptr<platform::WriteLogDevice> log;
  platform::SetDeviceWrapper('m', [&log](std::shared_ptr<platform::BlockDevice> inner) {
    auto fault = std::make_shared<platform::FaultDevice>(inner, 0, 3);
    log = std::make_shared<platform::WriteLogDevice>(fault);
    return log;
  });
  HANDLE h = Open("\\\\.\\m:", kRW, 0);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  std::vector<uint8_t> data(512);
  DWORD n = 0;
  for (int i = 1; i <= 3; ++i) {
    std::fill(data.begin(), data.end(), static_cast<uint8_t>(i));
    Seek(h, i * 512);
    const BOOL ok = WriteFile(h, data.data(), 512, &n, nullptr);
    EXPECT_EQ(ok, i == 3 ? FALSE : TRUE) << i;
  }
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  CloseHandle(h);
  ASSERT_TRUE(log);
  ASSERT_EQ(log->Log().size(), 2u);
  std::vector<uint8_t> image(8192, 0);
  log->Replay(image, 1);
  EXPECT_EQ(image[512], 1);
  EXPECT_EQ(image[1024], 0);
  EXPECT_EQ(mem->Bytes()[1536], 0) << "the failed write never reached the volume";
}

TEST_F(NtVolumeTest, VolumeQueriesOnRealImages) {
  const std::string fat = testsupport::TempPath("q.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(fat, 1440, 12, "", "MYLABEL", error)) << error;
  Map('c', fat);
  char label[32] = {}, fs[16] = {};
  DWORD serial = 0, maxLen = 0, flags = 0;
  ASSERT_TRUE(GetVolumeInformationA("c:\\", label, 32, &serial, &maxLen, &flags, fs, 16))
      << GetLastError();
  EXPECT_STREQ(fs, "FAT");
  EXPECT_STREQ(label, "MYLABEL");
  DWORD spc = 0, bps = 0, freeC = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &spc, &bps, &freeC, &total));
  EXPECT_EQ(bps, 512u);
  EXPECT_EQ(spc, 1u);
  EXPECT_EQ(total, 2847u);
  EXPECT_EQ(freeC, 2847u);

  const std::string ntfs = testsupport::TempPath("q-ntfs.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(ntfs, 24, 4096, "Label NT", error)) << error;
  Map('d', ntfs);
  ASSERT_TRUE(GetVolumeInformationA("d:\\", label, 32, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_STREQ(fs, "NTFS");
  EXPECT_STREQ(label, "Label NT");
  ASSERT_TRUE(GetDiskFreeSpaceA("d:\\", &spc, &bps, &freeC, &total));
  EXPECT_EQ(spc, 8u);
  EXPECT_EQ(total, 24u * 1024 * 1024 / 4096 - 1) << "the last cluster holds the backup boot sector";
  EXPECT_LT(freeC, total);
}

TEST_F(NtVolumeTest, VolumeQueryFailuresAreDistinguishable) {
  char fs[16] = {};
  EXPECT_FALSE(GetVolumeInformationA("q:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  Map('d', testsupport::TempDir() + "/absent.img");
  EXPECT_FALSE(GetVolumeInformationA("d:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(GetLastError(), ERROR_NOT_READY);

  const std::string tiny = testsupport::TempPath("tiny.img");
  ASSERT_TRUE(testsupport::WriteFileBytes(tiny, std::vector<uint8_t>(200, 0xEB)));
  Map('e', tiny);
  EXPECT_FALSE(GetVolumeInformationA("e:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
  DWORD spc = 0, bps = 0, freeC = 0, total = 0;
  EXPECT_FALSE(GetDiskFreeSpaceA("e:\\", &spc, &bps, &freeC, &total));

  Map('f', MakeImage("junk.img"));
  EXPECT_FALSE(GetVolumeInformationA("f:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);

  const std::string k1 = testsupport::TempPath("k1.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(k1, 20000, 16, "-S 1024", "", error)) << error;
  Map('g', k1);
  EXPECT_FALSE(GetVolumeInformationA("g:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
  EXPECT_FALSE(GetDiskFreeSpaceA("g:\\", &spc, &bps, &freeC, &total));
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
}

TEST_F(NtVolumeTest, TruncatedFatImage) {
  const std::string fat = testsupport::TempPath("cut.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(fat, 1440, 12, "", "CUT", error)) << error;
  ASSERT_EQ(testsupport::RunCommand("truncate -s 4096 " + testsupport::ShellQuote(fat)), 0);
  Map('c', fat);
  char label[32] = {}, fs[16] = {};
  ASSERT_TRUE(GetVolumeInformationA("c:\\", label, 32, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_STREQ(fs, "FAT");
  EXPECT_STREQ(label, "CUT") << "the boot-sector label when the root folder is gone";
  DWORD spc = 0, bps = 0, freeC = 0, total = 0;
  EXPECT_FALSE(GetDiskFreeSpaceA("c:\\", &spc, &bps, &freeC, &total)) << "the FAT is cut short";
  EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
  HANDLE h = Open("\\\\.\\c:", GENERIC_READ, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buf(8192);
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, buf.data(), 4096, &n, nullptr));
  EXPECT_FALSE(ReadFile(h, buf.data(), 512, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  CloseHandle(h);
}

TEST_F(NtVolumeTest, DamagedNtfsIsNamedButNotMeasured) {
  const std::string img = testsupport::TempPath("badmft.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 16, 4096, "Gone", error)) << error;
  auto bytes = testsupport::ReadFileBytes(img);
  const uint64_t mft =
      (uint64_t{bytes[0x30]} | uint64_t{bytes[0x31]} << 8 | uint64_t{bytes[0x32]} << 16) * 4096;
  const uint64_t mirr =
      (uint64_t{bytes[0x38]} | uint64_t{bytes[0x39]} << 8 | uint64_t{bytes[0x3A]} << 16) * 4096;
  std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(mft), 4096, 0);
  std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(mirr), 4096, 0);
  ASSERT_TRUE(testsupport::WriteFileBytes(img, bytes));
  Map('c', img);
  char label[32] = "x", fs[16] = {};
  ASSERT_TRUE(GetVolumeInformationA("c:\\", label, 32, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_STREQ(fs, "NTFS");
  EXPECT_STREQ(label, "");
  DWORD spc = 0, bps = 0, freeC = 0, total = 0;
  EXPECT_FALSE(GetDiskFreeSpaceA("c:\\", &spc, &bps, &freeC, &total));
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
}

TEST_F(NtVolumeTest, ReadFaultsDuringQueriesAreNotReady) {
  const std::string img = testsupport::TempPath("qfault.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 16, 4096, "", error)) << error;
  Map('c', img);
  ::setenv("VODURU_FAULTS", "c:read=2,sticky", 1);  // the boot sector reads, then nothing
  char fs[16] = {};
  EXPECT_FALSE(GetVolumeInformationA("c:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
  DWORD spc = 0, bps = 0, freeC = 0, total = 0;
  EXPECT_FALSE(GetDiskFreeSpaceA("c:\\", &spc, &bps, &freeC, &total));
  EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
}

TEST_F(NtVolumeTest, SizesComeFromTheVolumeNotTheImage) {
  const std::string fat = testsupport::TempPath("grown.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(fat, 1440, 12, "", "", error)) << error;
  ASSERT_EQ(testsupport::RunCommand("truncate -s 10M " + testsupport::ShellQuote(fat)), 0);
  Map('c', fat);
  DWORD spc = 0, bps = 0, freeC = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA("c:\\", &spc, &bps, &freeC, &total));
  EXPECT_EQ(total, 2847u);
}

TEST_F(NtVolumeTest, FatThirtyTwoIsNamedButNotMeasured) {
  const std::string img = testsupport::TempPath("q32.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImageDefaultReserved(img, 40000, 32, "", "", error)) << error;
  Map('c', img);
  char fs[16] = {};
  ASSERT_TRUE(GetVolumeInformationA("c:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_STREQ(fs, "FAT32");
  DWORD a, b, c, d;
  EXPECT_FALSE(GetDiskFreeSpaceA("c:\\", &a, &b, &c, &d));
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
}

TEST(NtSystem, VersionDefaultsToNt4AndCanBeSet) {
  platform::ResetPlatform();
  OSVERSIONINFOA info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 4u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.dwBuildNumber, 1381u);
  EXPECT_EQ(info.dwPlatformId, 2u);
  EXPECT_STREQ(info.szCSDVersion, "Service Pack 6");
  platform::SetVersion(5, 0, 2195, "");
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwBuildNumber, 2195u);
  EXPECT_STREQ(info.szCSDVersion, "");
  OSVERSIONINFOA small;
  small.dwOSVersionInfoSize = 20;
  EXPECT_FALSE(GetVersionExA(&small));
  platform::ResetPlatform();
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 4u);
}

TEST(NtSystem, SystemDirectoryAndProcessCalls) {
  char dir[260];
  const UINT n = GetSystemDirectoryA(dir, sizeof dir);
  EXPECT_EQ(n, std::string(dir).size());
  EXPECT_GT(n, 0u);
  char tiny[4];
  EXPECT_GT(GetSystemDirectoryA(tiny, 4), 4u) << "too small: the size needed";
  EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
  EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS));
  EXPECT_TRUE(SetProcessWorkingSetSize(GetCurrentProcess(), 0x500000, 0x1000000));
  const uint64_t beeps = platform::BeepCount();
  EXPECT_TRUE(MessageBeep(0));
  EXPECT_EQ(platform::BeepCount(), beeps + 1);
}

TEST(NtSystem, VirtualSleepAdvancesThePlatformClock) {
  platform::ResetPlatform();
  platform::SetVirtualSleep(true);
  const uint64_t before = platform::ClockMs();
  const auto wall = std::chrono::steady_clock::now();
  Sleep(5000);
  EXPECT_GE(platform::ClockMs() - before, 5000u);
  EXPECT_LT(std::chrono::steady_clock::now() - wall, std::chrono::seconds(2));
  platform::ResetPlatform();
}

}  // namespace

namespace {

// A mounted block device: exclusive opens fail, shared ones are read-only.
TEST_F(NtVolumeTest, MountedBlockDeviceIsServedReadOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  const std::string node = testsupport::TempPath("blk");
  if (testsupport::RunCommand("mknod " + node + " b 7 7") != 0) GTEST_SKIP() << "mknod refused";
  const std::string table = testsupport::TempPath("mountinfo");
  ASSERT_TRUE(testsupport::WriteFileBytes(
      table, std::vector<uint8_t>{'3', '0', ' ', '1', ' ', '7', ':', '7', ' ', '/', ' ', '/', 'm',
                                  'n', 't', '\n'}));
  platform::detail::SetMountInfoPath(table);
  Map('c', node);
  EXPECT_EQ(Open("\\\\.\\c:", kRW, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE h = Open("\\\\.\\c:", kRW, 3);
  if (h == INVALID_HANDLE_VALUE)
    GTEST_SKIP() << "the loop device cannot be opened here: " << GetLastError();
  EXPECT_FALSE(DeviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  std::vector<uint8_t> buf(512);
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(h, buf.data(), 512, &n, nullptr));
  CloseHandle(h);
  platform::ResetPlatform();
  Map('c', node);
  h = Open("\\\\.\\c:", kRW, 0);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "not mounted once the table no longer lists it";
  CloseHandle(h);
}

}  // namespace
