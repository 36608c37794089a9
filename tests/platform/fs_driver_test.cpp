// Paths, listings and file-system control requests through a registered
// driver: dispatch, share modes, busy files, the lock and re-reading.
#include "platform/fs_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/nt.h"
#include "platform/platform.h"
#include "support/volume_images.h"

namespace {

using namespace nt;
using platform::DriverFile;
using platform::FsControlRequest;
using platform::FsControlResult;
using platform::FsEntry;

// What the fake driver saw, for the tests to check.
struct Record {
  int created = 0;
  int invalidated = 0;
  int flushed = 0;
  bool lastWriteOk = false;
  DriverFile* movedFile = nullptr;
};

class FakeFile : public DriverFile {
 public:
  FakeFile(FsEntry e, std::string data) : entry_(std::move(e)), data_(std::move(data)) {}
  FsEntry Entry() const override { return entry_; }
  NTSTATUS Read(uint64_t offset, void* buffer, uint32_t size, uint32_t& transferred) override {
    if (offset >= data_.size()) return STATUS_END_OF_FILE;
    transferred = static_cast<uint32_t>(std::min<uint64_t>(size, data_.size() - offset));
    std::memcpy(buffer, data_.data() + offset, transferred);
    return STATUS_SUCCESS;
  }

 private:
  FsEntry entry_;
  std::string data_;
};

class FakeDriver : public platform::FileSystemDriver {
 public:
  FakeDriver(std::shared_ptr<platform::BlockDevice> device, Record& record)
      : device_(std::move(device)), record_(record) {}
  NTSTATUS Open(const std::string& path, std::unique_ptr<DriverFile>& file) override {
    const std::string lower = Lower(path);
    if (lower.empty() || lower == "dir") {
      file = std::make_unique<FakeFile>(
          FsEntry{lower.empty() ? "" : "Dir", "", FILE_ATTRIBUTE_DIRECTORY}, "");
      return STATUS_SUCCESS;
    }
    for (const auto& [folder, entries] : Tree())
      for (const FsEntry& e : entries)
        if (Lower(folder.empty() ? e.name : folder + "\\" + e.name) == lower) {
          file = std::make_unique<FakeFile>(e, "hello world");
          return STATUS_SUCCESS;
        }
    return platform::STATUS_OBJECT_NAME_NOT_FOUND;
  }
  NTSTATUS List(const std::string& folder, std::vector<FsEntry>& entries) override {
    auto tree = Tree();
    auto it = tree.find(Lower(folder));
    if (it == tree.end()) return platform::STATUS_OBJECT_NAME_NOT_FOUND;
    entries = it->second;
    return STATUS_SUCCESS;
  }
  FsControlResult FsControl(const FsControlRequest& r) override {
    if (r.code == FSCTL_GET_VOLUME_BITMAP) {
      // Answers with the first byte of sector 1, read now or cached.
      if (!cached_) {
        uint8_t sector[512];
        if (!device_->Read(512, sector, 512)) return {STATUS_DEVICE_DATA_ERROR, 0, false};
        byte_ = sector[0];
        cached_ = true;
      }
      if (r.outSize < 1) return {STATUS_BUFFER_TOO_SMALL, 0, false};
      static_cast<uint8_t*>(r.out)[0] = byte_;
      return {STATUS_SUCCESS, 1, false};
    }
    if (r.code == FSCTL_MOVE_FILE) {
      if (r.inSize < 32) return {STATUS_INVALID_PARAMETER, 0, false};
      HANDLE h = 0;
      std::memcpy(&h, r.in, 4);
      record_.movedFile = r.fileOfHandle(h);
      if (record_.movedFile == nullptr) return {STATUS_INVALID_HANDLE, 0, false};
      std::vector<uint8_t> sector(512, 0x99);
      record_.lastWriteOk = device_->Write(1024, sector.data(), 512);
      return {record_.lastWriteOk ? STATUS_SUCCESS : STATUS_MEDIA_WRITE_PROTECTED, 0, true};
    }
    if (r.code == FSCTL_GET_NTFS_VOLUME_DATA) {
      // Stands for any request that changes the volume.
      std::vector<uint8_t> sector(512, 0x99);
      record_.lastWriteOk = device_->Write(1024, sector.data(), 512);
      return {record_.lastWriteOk ? STATUS_SUCCESS : STATUS_MEDIA_WRITE_PROTECTED, 0, false};
    }
    if (r.code == FSCTL_GET_RETRIEVAL_POINTERS)
      return {r.file != nullptr ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER, 0, false};
    return {STATUS_INVALID_DEVICE_REQUEST, 0, false};
  }
  void Flush() override { ++record_.flushed; }
  void Invalidate() override {
    cached_ = false;
    ++record_.invalidated;
  }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  static std::map<std::string, std::vector<FsEntry>> Tree() {
    return {{"",
             {FsEntry{"Dir", "", FILE_ATTRIBUTE_DIRECTORY},
              FsEntry{"pagefile.sys", "", FILE_ATTRIBUTE_SYSTEM, 4096},
              FsEntry{"Readme.txt", "README.TXT", FILE_ATTRIBUTE_ARCHIVE, 11, 1, 2,
                      0x0123456789ABCDEFull}}},
            {"dir",
             {FsEntry{"a.txt", "", FILE_ATTRIBUTE_ARCHIVE, 11},
              FsEntry{"b.dat", "", FILE_ATTRIBUTE_ARCHIVE, 5}}}};
  }
  std::shared_ptr<platform::BlockDevice> device_;
  Record& record_;
  bool cached_ = false;
  uint8_t byte_ = 0;
};

class FsDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    std::string error;
    const std::string img = testsupport::TempPath("drv.img");
    ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "", "", error)) << error;
    mem_ = std::make_shared<platform::MemoryDevice>(testsupport::ReadFileBytes(img));
    platform::MapMemoryDrive('c', mem_, {"pagefile.sys"});
    platform::MapMemoryDrive(
        'd', std::make_shared<platform::MemoryDevice>(testsupport::ReadFileBytes(img)));
  }
  void TearDown() override {
    platform::UnregisterFileSystemDriver("FAT");
    platform::ResetPlatform();
  }
  void Register() {
    platform::RegisterFileSystemDriver("FAT",
                                       [this](const platform::DriverContext& c, std::string&) {
                                         ++record_.created;
                                         return std::make_unique<FakeDriver>(c.device, record_);
                                       });
  }
  static HANDLE OpenFile(const std::string& path, DWORD share = 0) {
    return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
  }
  static HANDLE OpenVolume(char letter, DWORD access, DWORD share) {
    return CreateFileA(std::string("\\\\.\\") + letter + ":", access, share, nullptr, OPEN_EXISTING,
                       0, 0);
  }
  std::shared_ptr<platform::MemoryDevice> mem_;
  Record record_;
};

TEST_F(FsDriverTest, WithoutADriverPathCallsAreNotSupported) {
  WIN32_FIND_DATAA fd;
  EXPECT_EQ(FindFirstFileA("c:\\*.*", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(OpenFile("c:\\dir\\a.txt"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(GetFileAttributesA("c:\\dir"), INVALID_FILE_ATTRIBUTES);
  HANDLE v = OpenVolume('c', GENERIC_READ, 3);
  IO_STATUS_BLOCK io;
  uint8_t out[8];
  EXPECT_EQ(
      NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, nullptr, 0, out, 8),
      STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(io.Status, STATUS_INVALID_DEVICE_REQUEST);
  CloseHandle(v);
}

TEST_F(FsDriverTest, FilesOpenReadAndShareAsOnNt) {
  Register();
  HANDLE f = OpenFile("C:\\DIR\\A.TXT", FILE_SHARE_READ);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
  char buf[64] = {};
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(f, buf, 5, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "hello");
  ASSERT_TRUE(ReadFile(f, buf, 64, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), " world") << "a file's end gives fewer bytes, not a failure";
  ASSERT_TRUE(ReadFile(f, buf, 64, &n, nullptr));
  EXPECT_EQ(n, 0u);

  HANDLE again = OpenFile("c:\\dir\\a.txt", FILE_SHARE_READ);
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << "both share reading";
  EXPECT_EQ(OpenFile("c:\\dir\\a.txt", 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(again);
  CloseHandle(f);
  HANDLE excl = OpenFile("c:\\dir\\a.txt", 0);
  EXPECT_NE(excl, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFile("c:\\dir\\a.txt", 3), INVALID_HANDLE_VALUE);
  CloseHandle(excl);

  EXPECT_EQ(OpenFile("c:\\dir\\none.txt"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileA("c:\\dir\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenFile("q:\\x"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FsDriverTest, BusyFilesCannotBeOpenedButHaveAttributes) {
  Register();
  EXPECT_EQ(OpenFile("c:\\PAGEFILE.SYS", 3), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFileAttributesA("c:\\pagefile.sys"), FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(GetFileAttributesA("c:\\dir\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("c:\\nothing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE d = OpenFile("d:\\pagefile.sys");
  EXPECT_NE(d, INVALID_HANDLE_VALUE) << "busy only where the map says so";
  CloseHandle(d);
}

TEST_F(FsDriverTest, FindMatchesWildcardsAndAddsDotsBelowTheRoot) {
  Register();
  WIN32_FIND_DATAA fd;
  std::vector<std::string> names;
  HANDLE h = FindFirstFileA("c:\\dir\\*.*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  do names.push_back(fd.cFileName);
  while (FindNextFileA(h, &fd));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.txt", "b.dat"}));

  h = FindFirstFileA("c:\\r?ADME.*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(fd.cFileName, "Readme.txt");
  EXPECT_STREQ(fd.cAlternateFileName, "README.TXT");
  EXPECT_EQ(fd.nFileSizeLow, 11u);
  EXPECT_EQ(fd.ftLastWriteTime.dwHighDateTime, 0x01234567u);
  EXPECT_EQ(fd.ftLastWriteTime.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_FALSE(FindNextFileA(h, &fd));
  EXPECT_FALSE(CloseHandle(h)) << "a find handle is closed by FindClose";
  EXPECT_TRUE(FindClose(h));

  EXPECT_EQ(FindFirstFileA("c:\\*.exe", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("c:\\nodir\\*.*", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FsDriverTest, OpenFilesKeepTheVolumeFromBeingLocked) {
  Register();
  HANDLE v = OpenVolume('d', GENERIC_READ | GENERIC_WRITE, 3);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  HANDLE f = OpenFile("d:\\dir\\a.txt", 3);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenVolume('d', GENERIC_READ, 0), INVALID_HANDLE_VALUE) << "a file is open";
  EXPECT_FALSE(DeviceIoControl(v, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  CloseHandle(f);
  EXPECT_TRUE(DeviceIoControl(v, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(OpenFile("d:\\dir\\a.txt", 3), INVALID_HANDLE_VALUE) << "locked: no file opens";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(v);
}

TEST_F(FsDriverTest, ControlRequestsReachTheDriverWhichRereadsAfterUnlock) {
  Register();
  HANDLE v = OpenVolume('c', GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_EQ(v, INVALID_HANDLE_VALUE) << "c: has a busy file";
  platform::MapMemoryDrive('c', mem_);  // no busy files now
  v = OpenVolume('c', GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  IO_STATUS_BLOCK io;
  uint8_t out = 0;
  ASSERT_EQ(
      NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, nullptr, 0, &out, 1),
      STATUS_SUCCESS);
  EXPECT_EQ(io.Information, 1u);
  EXPECT_EQ(out, mem_->Bytes()[512]);
  EXPECT_EQ(record_.created, 1);

  ASSERT_TRUE(DeviceIoControl(v, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(record_.flushed, 1) << "pending changes written before the lock";
  std::vector<uint8_t> sector(512, 0x42);
  LONG high = 0;
  SetFilePointer(v, 512, &high, FILE_BEGIN);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(v, sector.data(), 512, &n, nullptr));
  ASSERT_TRUE(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, nullptr, 0,
                              &out, 1) == STATUS_SUCCESS);
  EXPECT_EQ(out, 0x42) << "the raw write made the driver re-read";
  const int before = record_.invalidated;
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(record_.invalidated, before + 1) << "told to re-read at the unlock";
  ASSERT_EQ(
      NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, nullptr, 0, &out, 1),
      STATUS_SUCCESS);
  EXPECT_EQ(record_.invalidated, before + 1) << "and only once";
  CloseHandle(v);
}

TEST_F(FsDriverTest, MoveRequestsResolveTheFileHandleAndMayPend) {
  Register();
  HANDLE v = OpenVolume('d', GENERIC_READ | GENERIC_WRITE, 3);
  HANDLE f = OpenFile("d:\\dir\\b.dat", 3);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  uint8_t move[32] = {};
  std::memcpy(move, &f, 4);
  IO_STATUS_BLOCK io;
  const NTSTATUS s =
      NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_MOVE_FILE, move, 32, nullptr, 0);
  EXPECT_EQ(s, STATUS_PENDING);
  EXPECT_EQ(io.Status, STATUS_PENDING);
  EXPECT_EQ(WaitForSingleObject(v, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(io.Status, STATUS_SUCCESS) << "the wait delivers the final status";
  ASSERT_NE(record_.movedFile, nullptr);
  EXPECT_EQ(record_.movedFile->Entry().name, "b.dat");
  EXPECT_TRUE(record_.lastWriteOk);

  // A handle that is not a file of this volume resolves to nothing.
  std::memcpy(move, &v, 4);
  NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_MOVE_FILE, move, 32, nullptr, 0);
  EXPECT_EQ(io.Status, STATUS_INVALID_HANDLE);

  // Requests on a file handle carry the file.
  uint8_t ptrs[64];
  uint64_t vcn = 0;
  EXPECT_EQ(
      NtFsControlFile(f, 0, nullptr, nullptr, &io, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8, ptrs, 64),
      STATUS_SUCCESS);
  EXPECT_EQ(NtFsControlFile(9999, 0, nullptr, nullptr, &io, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8,
                            ptrs, 64),
            STATUS_INVALID_HANDLE);
  CloseHandle(f);
  CloseHandle(v);
}

TEST_F(FsDriverTest, TheDriverCannotWriteWhileTheProgramHoldsTheLock) {
  Register();
  platform::MapMemoryDrive('c', mem_);  // no busy files
  HANDLE v = OpenVolume('c', GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  IO_STATUS_BLOCK io;
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                            nullptr, 0),
            STATUS_MEDIA_WRITE_PROTECTED);
  EXPECT_FALSE(record_.lastWriteOk);
  EXPECT_NE(mem_->Bytes()[1024], 0x99) << "nothing reached the volume";
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                            nullptr, 0),
            STATUS_SUCCESS);
  EXPECT_EQ(mem_->Bytes()[1024], 0x99);
  CloseHandle(v);
}

TEST_F(FsDriverTest, AnIdleDriverIsKeptUntilTheImageChanges) {
  Register();
  std::string error;
  const std::string img = testsupport::TempPath("idle.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "", "", error)) << error;
  platform::SetDriveMap({platform::DriveEntry{'e', img, {}}});
  for (int i = 0; i < 3; ++i) {
    HANDLE f = OpenFile("e:\\dir\\a.txt", 3);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(f);
  }
  EXPECT_EQ(GetFileAttributesA("e:\\dir"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(record_.created, 1) << "one driver for the whole run of opens";

  // Another program changes the image: the next use starts afresh.
  auto bytes = testsupport::ReadFileBytes(img);
  bytes[600] ^= 0xFF;
  ASSERT_TRUE(testsupport::WriteFileBytes(img, bytes));
  HANDLE f = OpenFile("e:\\dir\\a.txt", 3);
  CloseHandle(f);
  EXPECT_EQ(record_.created, 2);

  // So does a new device wrapper.
  int wrapped = 0;
  platform::SetDeviceWrapper('e', [&wrapped](std::shared_ptr<platform::BlockDevice> d) {
    ++wrapped;
    return d;
  });
  f = OpenFile("e:\\dir\\a.txt", 3);
  CloseHandle(f);
  EXPECT_EQ(record_.created, 3);
  EXPECT_EQ(wrapped, 1);
}

TEST(NtFindHost, ListsAFolderOfTheHost) {
  platform::ResetPlatform();
  const std::string dir = testsupport::TempPath("hostdir");
  ASSERT_EQ(testsupport::RunCommand("mkdir -p " + dir + " && echo x > " + dir +
                                    "/one.chk && echo y > " + dir + "/two.log"),
            0);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(dir + "/*.chk", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(fd.cFileName, "one.chk");
  EXPECT_EQ(fd.nFileSizeLow, 2u);
  EXPECT_FALSE(FindNextFileA(h, &fd));
  FindClose(h);
  EXPECT_EQ(GetFileAttributesA(dir) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(dir + "/none"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
