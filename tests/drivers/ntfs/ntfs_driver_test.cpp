// The NTFS driver on fixture volumes built by mkntfs and libntfs-3g: files,
// listings and control requests through the NT calls, checked against what
// libntfs-3g reads directly, the fixture's manifest and the raw image.
#include "drivers/ntfs/ntfs_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

#include "drivers/builtin_drivers.h"
#include "drivers/ntfs/ntfs_driver_file.h"
#include "drivers/ntfs/ntfs_driver_move.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "runtime/bytes.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace {

using namespace nt;
using testsupport::NtfsFixture;
using testsupport::NtfsFixtureEntry;

constexpr uint32_t kRetrievalBuffer = 8208;  // 512 extents, as the program asks

// The whole file through ReadFile in 64 KB steps; false when a call fails.
bool ReadWhole(const std::string& path, std::vector<uint8_t>& data) {
  data.clear();
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::vector<uint8_t> buf(65536);
  DWORD n = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) && n > 0)
    data.insert(data.end(), buf.begin(), buf.begin() + n);
  CloseHandle(h);
  return ok;
}

class NtfsDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    fx_ = &testsupport::SharedNtfsFixture();
    ASSERT_FALSE(fx_->Entries().empty());
    platform::SetDriveMap({platform::DriveEntry{'n', fx_->Path(), {"pagefile.sys"}}});
  }
  void TearDown() override { platform::ResetPlatform(); }

  static HANDLE Open(const std::string& path, DWORD share = FILE_SHARE_READ) {
    return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
  }
  static HANDLE Volume(DWORD share = 3) {
    return CreateFileA("\\\\.\\n:", GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, 0);
  }
  static bool ReadAll(const std::string& path, std::vector<uint8_t>& data) {
    return ReadWhole(path, data);
  }
  static NTSTATUS Fsctl(HANDLE h, DWORD code, int64_t input, std::vector<uint8_t>& out,
                        uint64_t* information = nullptr) {
    IO_STATUS_BLOCK io;
    const NTSTATUS s = NtFsControlFile(h, 0, nullptr, nullptr, &io, code, &input, 8, out.data(),
                                       static_cast<DWORD>(out.size()));
    if (information != nullptr) *information = io.Information;
    return s;
  }
  const NtfsFixture* fx_ = nullptr;
};

struct Extent {
  int64_t nextVcn, lcn;
};

// Every extent of `path` by repeated requests from the last next VCN.
std::vector<Extent> AllExtents(const std::string& path, int& requests, int64_t& firstVcn) {
  std::vector<Extent> extents;
  HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
  std::vector<uint8_t> out(kRetrievalBuffer);
  int64_t vcn = 0;
  requests = 0;
  for (;;) {
    IO_STATUS_BLOCK io;
    const NTSTATUS s = NtFsControlFile(h, 0, nullptr, nullptr, &io, FSCTL_GET_RETRIEVAL_POINTERS,
                                       &vcn, 8, out.data(), kRetrievalBuffer);
    ++requests;
    if (s != STATUS_SUCCESS && s != STATUS_BUFFER_OVERFLOW) {
      ADD_FAILURE() << path << " status " << std::hex << s;
      break;
    }
    const uint32_t count = vr::U32(out, 0);
    if (requests == 1) firstVcn = vr::I64(out, 8);
    EXPECT_EQ(io.Information, 16u + 16u * count);
    for (uint32_t i = 0; i < count; ++i)
      extents.push_back({vr::I64(out, 16 + 16 * i), vr::I64(out, 24 + 16 * i)});
    if (s == STATUS_SUCCESS || count == 0) break;
    vcn = extents.back().nextVcn;
  }
  CloseHandle(h);
  return extents;
}

// libntfs-3g's runs with neighbours that continue each other joined.
std::vector<Extent> JoinedRuns(const std::vector<testsupport::LibntfsRun>& runs) {
  std::vector<testsupport::LibntfsRun> joined;
  for (const auto& r : runs) {
    if (!joined.empty()) {
      auto& last = joined.back();
      if ((r.lcn < 0 && last.lcn < 0) ||
          (r.lcn >= 0 && last.lcn >= 0 && last.lcn + last.length == r.lcn)) {
        last.length += r.length;
        continue;
      }
    }
    joined.push_back(r);
  }
  std::vector<Extent> extents;
  for (const auto& r : joined) extents.push_back({r.vcn + r.length, r.lcn});
  return extents;
}

// ---- Files ----

TEST_F(NtfsDriverTest, EveryFileReadsAsLibntfsAndTheManifestSay) {
  int files = 0;
  for (const NtfsFixtureEntry& e : fx_->Entries()) {
    if (e.flags & (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream)) continue;
    std::vector<uint8_t> driver, direct;
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsRead(fx_->Path(), e.path, direct, error)) << error;
    // The drive map has "another program" hold pagefile.sys.
    if (e.path == "pagefile.sys") {
      EXPECT_EQ(direct, testsupport::ExpectedContent(e));
      continue;
    }
    ASSERT_TRUE(ReadAll("n:\\" + e.path, driver)) << e.path << " error " << GetLastError();
    ASSERT_EQ(driver.size(), e.size) << e.path;
    EXPECT_TRUE(driver == direct) << e.path;
    EXPECT_TRUE(driver == testsupport::ExpectedContent(e)) << e.path;
    ++files;
  }
  EXPECT_GT(files, 600);
}

TEST_F(NtfsDriverTest, NamedStreamsNeverMixIntoTheFileData) {
  const NtfsFixtureEntry* e = fx_->Find("streams\\with stream.txt");
  ASSERT_NE(e, nullptr);
  std::vector<uint8_t> data;
  ASSERT_TRUE(ReadAll("n:\\streams\\with stream.txt", data));
  EXPECT_EQ(data, testsupport::ExpectedContent(*e));
  WIN32_FIND_DATAA fd;
  HANDLE f = FindFirstFileA("n:\\streams\\with stream.txt", &fd);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.nFileSizeLow, e->size) << "the size is the unnamed stream's";
  FindClose(f);
}

TEST_F(NtfsDriverTest, ReadsInTheMiddleAndPastTheEndKeepNtsMeaning) {
  const NtfsFixtureEntry* e = fx_->Find("sparse\\sparse.bin");
  ASSERT_NE(e, nullptr);
  const std::vector<uint8_t> expected = testsupport::ExpectedContent(*e);
  HANDLE h = Open("n:\\SPARSE\\Sparse.BIN");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Across the end of the second written piece into the hole after it.
  const LONG at = (8 << 20) + 4000;
  ASSERT_EQ(SetFilePointer(h, at, nullptr, FILE_BEGIN), static_cast<DWORD>(at));
  std::vector<uint8_t> buf(10000);
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(h, buf.data(), 10000, &n, nullptr));
  ASSERT_EQ(n, 10000u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), expected.begin() + at));
  ASSERT_NE(SetFilePointer(h, -10, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(ReadFile(h, buf.data(), 100, &n, nullptr));
  EXPECT_EQ(n, 10u) << "fewer bytes at the end of the file";
  ASSERT_TRUE(ReadFile(h, buf.data(), 100, &n, nullptr));
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
}

TEST_F(NtfsDriverTest, NamesMatchWithoutRegardToCase) {
  std::vector<uint8_t> data;
  ASSERT_TRUE(ReadAll("N:\\DOCS\\2024\\REPORTS\\q2 figures.TXT", data)) << GetLastError();
  EXPECT_EQ(data, testsupport::ExpectedContent(*fx_->Find("docs\\2024\\reports\\Q2 Figures.txt")));
  EXPECT_NE(GetFileAttributesA("n:\\SPECIAL\\mixed case name.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Open("n:\\docs\\nothing.txt"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("n:\\nowhere\\report.doc"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open("n:\\readme.txt\\inside"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << "a file on the way is no folder";
  EXPECT_EQ(Open("n:\\$MFT"), INVALID_HANDLE_VALUE) << "system files are not opened by name";
}

TEST_F(NtfsDriverTest, HardLinksReadTheSameData) {
  std::vector<uint8_t> a, b, c;
  ASSERT_TRUE(ReadAll("n:\\links\\original.txt", a));
  ASSERT_TRUE(ReadAll("n:\\links\\second name.txt", b));
  ASSERT_TRUE(ReadAll("n:\\docs\\link to original.txt", c));
  EXPECT_EQ(a.size(), 4000u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
}

TEST_F(NtfsDriverTest, FoldersOpenButDoNotRead) {
  HANDLE h = CreateFileA("n:\\docs", 1, 0, nullptr, OPEN_EXISTING, 0x02000000u, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint8_t buf[16];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(h, buf, 16, &n, nullptr));
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA("n:\\docs") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(NtfsDriverTest, BusyFilesRefuseExclusiveOpens) {
  EXPECT_EQ(Open("n:\\pagefile.sys", 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE h = Open("n:\\readme.txt", 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "files nobody holds open normally";
  EXPECT_EQ(Open("n:\\README.TXT", FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << "our own exclusive open holds it";
  CloseHandle(h);
}

// ---- Listings ----

std::vector<WIN32_FIND_DATAA> FindAll(const std::string& pattern) {
  std::vector<WIN32_FIND_DATAA> found;
  WIN32_FIND_DATAA fd;
  HANDLE f = FindFirstFileA(pattern, &fd);
  if (f == INVALID_HANDLE_VALUE) return found;
  do found.push_back(fd);
  while (FindNextFileA(f, &fd));
  FindClose(f);
  return found;
}

TEST_F(NtfsDriverTest, ListingsMatchLibntfsAndTheManifest) {
  for (const std::string folder : {"", "many", "docs", "links", "frag", "docs\\2024\\reports"}) {
    std::vector<std::string> direct;
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsList(fx_->Path(), folder, direct, error)) << error;
    const auto found = FindAll("n:\\" + folder + (folder.empty() ? "*" : "\\*"));
    std::vector<std::string> names;
    for (const auto& fd : found) {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      names.push_back(name);
      const std::string path = folder.empty() ? name : folder + "\\" + name;
      const NtfsFixtureEntry* e = fx_->Find(path);
      ASSERT_NE(e, nullptr) << path << " is not in the manifest";
      const bool isFolder = e->flags & testsupport::kNtfsFolder;
      EXPECT_EQ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, isFolder) << path;
      EXPECT_EQ((uint64_t{fd.nFileSizeHigh} << 32) | fd.nFileSizeLow, e->size) << path;
      EXPECT_EQ((fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0,
                (e->flags & testsupport::kNtfsHidden) != 0)
          << path;
    }
    EXPECT_EQ(names, direct) << "folder " << folder;
    EXPECT_EQ(found.size() - names.size(), folder.empty() ? 0u : 2u)
        << "'.' and '..' below the root";
  }
  EXPECT_EQ(FindAll("n:\\many\\*").size(), 602u);
}

TEST_F(NtfsDriverTest, TheRootListsNoSystemFiles) {
  for (const auto& fd : FindAll("n:\\*")) EXPECT_NE(fd.cFileName[0], '$') << fd.cFileName;
}

TEST_F(NtfsDriverTest, EntriesCarryAttributesAndFileTimes) {
  const auto found = FindAll("n:\\pagefile.sys");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const auto sparse = FindAll("n:\\sparse\\sparse.bin");
  ASSERT_EQ(sparse.size(), 1u);
  EXPECT_EQ(sparse[0].dwFileAttributes & 0x200u, 0x200u) << "FILE_ATTRIBUTE_SPARSE_FILE";
  if (fx_->HasCompressed()) {
    const auto packed = FindAll("n:\\compressed\\packed.txt");
    ASSERT_EQ(packed.size(), 1u);
    EXPECT_EQ(packed[0].dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED, FILE_ATTRIBUTE_COMPRESSED);
  }
  // The fixture was written today: FILETIME is 100 ns since 1601.
  const uint64_t now =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count() +
                            11644473600LL) *
      10000000ull;
  const auto& fd = found[0];
  for (const FILETIME& t : {fd.ftCreationTime, fd.ftLastWriteTime, fd.ftLastAccessTime}) {
    const uint64_t v = (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    EXPECT_LE(v, now + 10000000ull);
    EXPECT_GT(v + 86400ull * 10000000ull, now);
  }
}

// ---- Retrieval pointers ----

TEST_F(NtfsDriverTest, RetrievalPointersOfAFragmentedFileEqualLibntfsRuns) {
  for (const std::string path : {"frag\\alpha.bin", "frag\\many.bin"}) {
    std::vector<testsupport::LibntfsRun> runs;
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsRunlist(fx_->Path(), path, runs, error)) << error;
    int requests = 0;
    int64_t firstVcn = -1;
    const auto extents = AllExtents("n:\\" + path, requests, firstVcn);
    const auto expected = JoinedRuns(runs);
    EXPECT_EQ(firstVcn, 0);
    ASSERT_EQ(extents.size(), expected.size()) << path;
    for (size_t i = 0; i < extents.size(); ++i) {
      EXPECT_EQ(extents[i].nextVcn, expected[i].nextVcn) << path << " extent " << i;
      EXPECT_EQ(extents[i].lcn, expected[i].lcn) << path << " extent " << i;
    }
    EXPECT_GT(extents.size(), 20u) << path;
    // More than 512 extents take a second request.
    EXPECT_EQ(requests, static_cast<int>((extents.size() + 511) / 512)) << path;
  }
}

TEST_F(NtfsDriverTest, SparseAndCompressedClustersHaveNoLocation) {
  std::vector<std::string> files = {"sparse\\sparse.bin"};
  if (fx_->HasCompressed()) files.push_back("compressed\\packed.txt");
  for (const std::string& path : files) {
    int requests = 0;
    int64_t firstVcn = 0;
    const auto extents = AllExtents("n:\\" + path, requests, firstVcn);
    EXPECT_TRUE(std::any_of(extents.begin(), extents.end(), [](const Extent& e) {
      return e.lcn == -1;
    })) << path;
    EXPECT_TRUE(std::any_of(extents.begin(), extents.end(), [](const Extent& e) {
      return e.lcn >= 0;
    })) << path;
  }
}

TEST_F(NtfsDriverTest, RetrievalPointersStartAtTheExtentHoldingTheVcn) {
  std::vector<testsupport::LibntfsRun> runs;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(fx_->Path(), "frag\\many.bin", runs, error)) << error;
  const auto expected = JoinedRuns(runs);
  ASSERT_GT(expected.size(), 3u);
  HANDLE h = Open("n:\\frag\\many.bin", 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // One extent of room: STATUS_BUFFER_OVERFLOW with the first extent.
  std::vector<uint8_t> out(32);
  EXPECT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, 0, out), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(vr::U32(out, 0), 1u);
  EXPECT_EQ(vr::I64(out, 16), expected[0].nextVcn);
  // From inside the third extent.
  out.assign(kRetrievalBuffer, 0);
  const int64_t inside = expected[1].nextVcn;  // the third extent's first VCN
  EXPECT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, inside, out), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(vr::I64(out, 8), inside);
  EXPECT_EQ(vr::I64(out, 24), expected[2].lcn);
  EXPECT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, expected.back().nextVcn, out),
            STATUS_END_OF_FILE);
  out.resize(16);
  EXPECT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, 0, out), STATUS_BUFFER_TOO_SMALL);
  CloseHandle(h);
  // Inside an extent: the answer starts at the extent's first VCN.
  h = Open("n:\\sparse\\sparse.bin", 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  out.assign(kRetrievalBuffer, 0);
  ASSERT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, 1, out), STATUS_SUCCESS);
  EXPECT_EQ(vr::I64(out, 8), 0);
  EXPECT_EQ(vr::I64(out, 16), 2) << "8 KB of data in 4 KB clusters";
  EXPECT_EQ(vr::I64(out, 40), -1) << "then the hole";
  CloseHandle(h);
}

TEST_F(NtfsDriverTest, DataInTheRecordHasNoRetrievalPointers) {
  std::vector<uint8_t> out(kRetrievalBuffer);
  for (const std::string path : {"n:\\small.txt", "n:\\empty.dat"}) {
    HANDLE h = Open(path, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, 0, out), STATUS_END_OF_FILE) << path;
    CloseHandle(h);
  }
  HANDLE v = Volume();
  EXPECT_EQ(Fsctl(v, FSCTL_GET_RETRIEVAL_POINTERS, 0, out), STATUS_INVALID_PARAMETER)
      << "asked on the volume, not a file";
  CloseHandle(v);
}

TEST_F(NtfsDriverTest, AFoldersPointersAreItsIndexAllocation) {
  HANDLE h = CreateFileA("n:\\many", 1, 0, nullptr, OPEN_EXISTING, 0x02000000u, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> out(kRetrievalBuffer);
  ASSERT_EQ(Fsctl(h, FSCTL_GET_RETRIEVAL_POINTERS, 0, out), STATUS_SUCCESS);
  ASSERT_GE(vr::U32(out, 0), 1u);
  // 600 long names need many 4 KB index blocks.
  EXPECT_GE(vr::I64(out, 16 + 16 * (vr::U32(out, 0) - 1)) * 4096, 16 * 4096);
  CloseHandle(h);
}

// ---- Volume bitmap ----

TEST_F(NtfsDriverTest, TheVolumeBitmapIsBitmapFile) {
  std::vector<uint8_t> bitmap;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRead(fx_->Path(), "$Bitmap", bitmap, error)) << error;
  const std::vector<uint8_t> image = testsupport::ReadFileBytes(fx_->Path());
  const uint64_t clusters = vr::U64(image, 0x28) / vr::U8(image, 0x0D);
  HANDLE v = Volume();
  std::vector<uint8_t> out(16 + (clusters + 7) / 8 + 100);
  uint64_t info = 0;
  ASSERT_EQ(Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 0, out, &info), STATUS_SUCCESS);
  EXPECT_EQ(vr::U64(out, 0), 0u);
  EXPECT_EQ(vr::U64(out, 8), clusters);
  EXPECT_EQ(info, 16 + (clusters + 7) / 8);
  EXPECT_TRUE(std::equal(out.begin() + 16, out.begin() + 16 + static_cast<long>((clusters + 7) / 8),
                         bitmap.begin()));

  // A buffer too small: the part that fits and the whole size.
  std::vector<uint8_t> small(16 + 8);
  ASSERT_EQ(Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 0, small, &info), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(vr::U64(small, 8), clusters);
  EXPECT_EQ(info, 24u);
  EXPECT_TRUE(std::equal(small.begin() + 16, small.end(), bitmap.begin()));

  // A start inside a byte is rounded down to the byte.
  ASSERT_EQ(Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 8 * 100 + 5, out), STATUS_SUCCESS);
  EXPECT_EQ(vr::U64(out, 0), 800u);
  EXPECT_EQ(vr::U64(out, 8), clusters - 800);
  EXPECT_EQ(out[16], bitmap[100]);
  EXPECT_EQ(Fsctl(v, FSCTL_GET_VOLUME_BITMAP, static_cast<int64_t>(clusters), out),
            STATUS_INVALID_PARAMETER);
  std::vector<uint8_t> tiny(15);
  EXPECT_EQ(Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 0, tiny), STATUS_BUFFER_TOO_SMALL);
  CloseHandle(v);
}

// ---- File records ----

TEST_F(NtfsDriverTest, FileRecordZeroComesWithItsFixupsApplied) {
  const std::vector<uint8_t> image = testsupport::ReadFileBytes(fx_->Path());
  const uint32_t cluster = vr::U16(image, 0x0B) * vr::U8(image, 0x0D);
  const uint64_t mftLcn = vr::U64(image, 0x30);
  const std::vector<uint8_t> raw(image.begin() + static_cast<long>(mftLcn * cluster),
                                 image.begin() + static_cast<long>(mftLcn * cluster + 1024));
  HANDLE v = Volume();
  std::vector<uint8_t> out(12 + 1024);
  uint64_t info = 0;
  ASSERT_EQ(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, 0, out, &info), STATUS_SUCCESS);
  EXPECT_EQ(info, 12u + 1024u);
  EXPECT_EQ(vr::U64(out, 0), 0u);
  EXPECT_EQ(vr::U32(out, 8), 1024u);
  const vr::Bytes rec(out.data() + 12, 1024);
  EXPECT_EQ(vr::GetAscii(rec, 0, 4), "FILE");
  const uint16_t usa = vr::U16(raw, 4), count = vr::U16(raw, 6);
  ASSERT_EQ(count, 3) << "1 KB record: the number and two sector ends";
  const uint16_t usn = vr::U16(raw, usa);
  for (uint16_t i = 1; i < count; ++i) {
    const int64_t end = 512 * i - 2;
    EXPECT_EQ(vr::U16(raw, end), usn) << "the raw sector ends hold the sequence number";
    EXPECT_EQ(vr::U16(rec, end), vr::U16(raw, usa + 2 * i)) << "sector " << i;
  }
  // Everything else is the raw record.
  for (size_t i = 0; i < 1024; ++i) {
    if (i % 512 >= 510) continue;
    ASSERT_EQ(rec[i], raw[i]) << "byte " << i;
  }
  std::vector<uint8_t> small(12 + 1023);
  EXPECT_EQ(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, 0, small), STATUS_BUFFER_TOO_SMALL);
  CloseHandle(v);
}

TEST_F(NtfsDriverTest, ARecordNotInUseAnswersTheNearestOneBelow) {
  HANDLE v = Volume();
  std::vector<uint8_t> out(12 + 1024);
  // The spacer files of the fixture were deleted: their records are free.
  // Find a free record by asking upwards from the first one libntfs-3g
  // gives to files (64) until the answer differs.
  ASSERT_EQ(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, 64, out), STATUS_SUCCESS);
  ASSERT_EQ(vr::U64(out, 0), 64u);
  uint64_t previousInUse = 64;
  int64_t freeRecord = -1;
  for (int64_t r = 65; r < 20000 && freeRecord < 0; ++r) {
    ASSERT_EQ(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, r, out), STATUS_SUCCESS);
    const uint64_t got = vr::U64(out, 0);
    if (got != static_cast<uint64_t>(r)) {
      freeRecord = r;
      EXPECT_EQ(got, previousInUse) << "the nearest record in use below";
      EXPECT_EQ(vr::U16(out, 12 + 0x16) & 1, 1) << "a record in use";
    } else {
      previousInUse = got;
      EXPECT_EQ(vr::U16(out, 12 + 0x16) & 1, 1) << "a record in use";
    }
  }
  EXPECT_GT(freeRecord, 0) << "the fixture has free records";
  // Far beyond the MFT: the last record in use.
  ASSERT_EQ(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, int64_t{1} << 40, out), STATUS_SUCCESS);
  const uint64_t last = vr::U64(out, 0);
  EXPECT_GT(last, 600u);
  EXPECT_EQ(vr::GetAscii(vr::Bytes(out.data() + 12, 4), 0, 4), "FILE");
  CloseHandle(v);
}

// ---- Volume data ----

TEST_F(NtfsDriverTest, VolumeDataMatchesTheBootSector) {
  const std::vector<uint8_t> image = testsupport::ReadFileBytes(fx_->Path());
  HANDLE v = Volume();
  std::vector<uint8_t> out(96);
  ASSERT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, nullptr, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                            out.data(), 96),
            STATUS_SUCCESS);
  const uint32_t sector = vr::U16(image, 0x0B), perCluster = vr::U8(image, 0x0D);
  const uint64_t sectors = vr::U64(image, 0x28);
  EXPECT_EQ(vr::U64(out, 0x00), vr::U64(image, 0x48)) << "serial number";
  EXPECT_EQ(vr::U64(out, 0x08), sectors);
  EXPECT_EQ(vr::U64(out, 0x10), sectors / perCluster);
  EXPECT_EQ(vr::U32(out, 0x28), sector);
  EXPECT_EQ(vr::U32(out, 0x2C), sector * perCluster);
  const int8_t recordByte = vr::I8(image, 0x40);
  const uint32_t record = recordByte < 0 ? 1u << -recordByte : recordByte * sector * perCluster;
  EXPECT_EQ(vr::U32(out, 0x30), record);
  EXPECT_EQ(vr::U32(out, 0x34), record / (sector * perCluster));
  EXPECT_EQ(vr::U64(out, 0x40), vr::U64(image, 0x30)) << "MFT";
  EXPECT_EQ(vr::U64(out, 0x48), vr::U64(image, 0x38)) << "MFT mirror";
  EXPECT_GT(vr::U64(out, 0x38), 600u * record) << "the MFT holds every record written";
  EXPECT_LE(vr::U64(out, 0x50), vr::U64(out, 0x58));
  EXPECT_LE(vr::U64(out, 0x58), sectors / perCluster);
  EXPECT_LE(vr::U64(out, 0x50), vr::U64(image, 0x30)) << "the zone holds the MFT's start";
  DWORD spc = 0, bps = 0, free = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA("n:\\", &spc, &bps, &free, &total));
  EXPECT_EQ(vr::U64(out, 0x18), free);
  std::vector<uint8_t> small(95);
  IO_STATUS_BLOCK io;
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                            small.data(), 95),
            STATUS_BUFFER_TOO_SMALL);
  CloseHandle(v);
}

// ---- Moves, the lock and damage ----

// Counts reads of the boot sector: libntfs-3g reads it at each mount.
class BootReads : public platform::ForwardingDevice {
 public:
  BootReads(std::shared_ptr<platform::BlockDevice> inner, std::shared_ptr<int> count)
      : ForwardingDevice(std::move(inner)), count_(std::move(count)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (offset == 0) ++*count_;
    return inner_->Read(offset, buffer, size);
  }

 private:
  std::shared_ptr<int> count_;
};

TEST_F(NtfsDriverTest, AfterTheLockTheDriverReadsTheVolumeAgain) {
  // A writable copy in memory: the program changes a $Bitmap byte raw.
  auto mem = std::make_shared<platform::MemoryDevice>(testsupport::ReadFileBytes(fx_->Path()));
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  platform::MapMemoryDrive('m', mem);
  auto bootReads = std::make_shared<int>(0);
  platform::SetDeviceWrapper('m', [bootReads](std::shared_ptr<platform::BlockDevice> d) {
    return std::make_shared<BootReads>(std::move(d), bootReads);
  });
  HANDLE v =
      CreateFileA("\\\\.\\m:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> before(4096 + 16), after(4096 + 16);
  NTSTATUS s = Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 0, before);
  ASSERT_TRUE(s == STATUS_SUCCESS || s == STATUS_BUFFER_OVERFLOW);
  // Where $Bitmap lies: its first run, read through retrieval pointers.
  std::vector<testsupport::LibntfsRun> runs;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(fx_->Path(), "$Bitmap", runs, error)) << error;
  ASSERT_FALSE(runs.empty());
  const uint32_t cluster = vr::U16(mem->Bytes(), 0x0B) * vr::U8(mem->Bytes(), 0x0D);
  const uint64_t at = static_cast<uint64_t>(runs[0].lcn) * cluster;
  // Requests between changes use the mount they have.
  const int mounted = *bootReads;
  s = Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 0, before);
  EXPECT_EQ(*bootReads, mounted);
  DWORD done = 0;
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &done, nullptr));
  std::vector<uint8_t> sector(mem->Bytes().begin() + static_cast<long>(at),
                              mem->Bytes().begin() + static_cast<long>(at + 512));
  sector[300] ^= 0xFF;
  ASSERT_NE(SetFilePointer(v, static_cast<LONG>(at), nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(WriteFile(v, sector.data(), 512, &done, nullptr));
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &done, nullptr));
  s = Fsctl(v, FSCTL_GET_VOLUME_BITMAP, 0, after);
  ASSERT_TRUE(s == STATUS_SUCCESS || s == STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(after[16 + 300], before[16 + 300] ^ 0xFF) << "no answer from before the change";
  EXPECT_GT(*bootReads, mounted) << "mounted again after the unlock";
  CloseHandle(v);
}

TEST_F(NtfsDriverTest, AVolumeLibntfsCannotMountIsRefusedWithoutHarm) {
  std::vector<uint8_t> bytes = testsupport::ReadFileBytes(fx_->Path());
  const uint32_t cluster = vr::U16(bytes, 0x0B) * vr::U8(bytes, 0x0D);
  const uint64_t mft = vr::U64(bytes, 0x30) * cluster;
  const uint64_t mirror = vr::U64(bytes, 0x38) * cluster;
  // $MFT's own record damaged in the MFT and its mirror.
  std::memcpy(bytes.data() + mft, "JUNK", 4);
  std::memcpy(bytes.data() + mirror, "JUNK", 4);
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  platform::MapMemoryDrive('d', std::make_shared<platform::MemoryDevice>(std::move(bytes)));
  WIN32_FIND_DATAA fd;
  EXPECT_EQ(FindFirstFileA("d:\\*", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
  EXPECT_EQ(Open("d:\\readme.txt"), INVALID_HANDLE_VALUE);
}

// The number of the record holding the name `name` (UTF-16 in the raw
// MFT at the start of the volume's MFT); -1 when none.
int64_t RecordNamed(const std::vector<uint8_t>& image, const std::string& name) {
  const uint32_t cluster = vr::U16(image, 0x0B) * vr::U8(image, 0x0D);
  const uint64_t mft = vr::U64(image, 0x30) * cluster;
  std::string wide;
  for (char c : name) wide += std::string{c, '\0'};
  for (int64_t r = 16; r < 4096; ++r) {
    const auto* rec = image.data() + mft + 1024 * r;
    if (std::memcmp(rec, "FILE", 4) == 0 &&
        std::search(rec, rec + 1024, wide.begin(), wide.end()) != rec + 1024)
      return r;
  }
  return -1;
}

TEST_F(NtfsDriverTest, ATornRecordIsAnErrorNotACrash) {
  std::vector<uint8_t> bytes = testsupport::ReadFileBytes(fx_->Path());
  const int64_t record = RecordNamed(bytes, "readme.txt");
  ASSERT_GT(record, 15);
  const uint32_t cluster = vr::U16(bytes, 0x0B) * vr::U8(bytes, 0x0D);
  const uint64_t at = vr::U64(bytes, 0x30) * cluster + 1024 * static_cast<uint64_t>(record);
  bytes[at + 510] ^= 0x55;  // the first sector's end no longer holds the sequence number
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  platform::MapMemoryDrive('d', std::make_shared<platform::MemoryDevice>(std::move(bytes)));
  HANDLE v = CreateFileA("\\\\.\\d:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> out(12 + 1024);
  EXPECT_NE(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, record, out), STATUS_SUCCESS);
  ASSERT_EQ(Fsctl(v, FSCTL_GET_NTFS_FILE_RECORD, record + 1, out), STATUS_SUCCESS)
      << "its neighbours answer as before";
  CloseHandle(v);
  // The folder still lists it, from the index; opening it fails.
  bool listed = false;
  for (const auto& fd : FindAll("d:\\*")) listed |= std::string(fd.cFileName) == "readme.txt";
  EXPECT_TRUE(listed);
  std::vector<uint8_t> data;
  EXPECT_FALSE(ReadAll("d:\\readme.txt", data));
  ASSERT_TRUE(ReadAll("d:\\docs\\report.doc", data));
  EXPECT_EQ(data, testsupport::ExpectedContent(*fx_->Find("docs\\report.doc")));
}

// The whole of `file` in reads of `chunk` bytes.
NTSTATUS ReadChunks(platform::DriverFile& file, uint32_t chunk, std::vector<uint8_t>& data) {
  data.clear();
  std::vector<uint8_t> buf(chunk);
  for (;;) {
    uint32_t got = 0;
    const NTSTATUS s = file.Read(data.size(), buf.data(), chunk, got);
    if (s == STATUS_END_OF_FILE) return STATUS_SUCCESS;
    if (s != STATUS_SUCCESS) return s;
    data.insert(data.end(), buf.begin(), buf.begin() + got);
  }
}

TEST_F(NtfsDriverTest, AnOpenFileKeepsItsInodeOnlyWhileTheMountLasts) {
  std::vector<uint8_t> bytes = testsupport::ReadFileBytes(fx_->Path());
  const int64_t record = RecordNamed(bytes, "readme.txt");
  ASSERT_GT(record, 15);
  const uint32_t cluster = vr::U16(bytes, 0x0B) * vr::U8(bytes, 0x0D);
  const uint64_t at = vr::U64(bytes, 0x30) * cluster + 1024 * static_cast<uint64_t>(record);
  auto mem = std::make_shared<platform::MemoryDevice>(std::move(bytes));
  platform::DriverContext context;
  context.letter = 'm';
  context.fileSystem = "NTFS";
  context.device = mem;
  std::string error;
  auto driver = platform::CreateNtfsDriver(context, error);
  ASSERT_TRUE(driver) << error;
  std::unique_ptr<platform::DriverFile> readme, report;
  ASSERT_EQ(driver->Open("readme.txt", readme), STATUS_SUCCESS);
  ASSERT_EQ(driver->Open("docs\\report.doc", report), STATUS_SUCCESS);
  auto* held = dynamic_cast<platform::NtfsFile*>(readme.get());
  ASSERT_NE(held, nullptr);
  EXPECT_FALSE(held->HoldsInode()) << "opened by name only";
  const auto expected = testsupport::ExpectedContent(*fx_->Find("readme.txt"));
  std::vector<uint8_t> data;
  ASSERT_EQ(ReadChunks(*readme, 100, data), STATUS_SUCCESS);
  EXPECT_EQ(data, expected);
  EXPECT_TRUE(held->HoldsInode()) << "kept between reads";
  // A remount closes it; the next read opens the record again.
  driver->Invalidate();
  EXPECT_FALSE(held->HoldsInode());
  ASSERT_EQ(ReadChunks(*readme, 100, data), STATUS_SUCCESS);
  EXPECT_EQ(data, expected);
  // The file is deleted behind the driver (its record freed and reused):
  // after the driver is told, the handle no longer reads.
  mem->Bytes()[at + 0x16] &= 0xFE;  // not in use
  mem->Bytes()[at + 0x10] += 1;     // sequence number
  driver->Invalidate();
  uint8_t byte = 0;
  uint32_t got = 0;
  EXPECT_EQ(readme->Read(0, &byte, 1, got), STATUS_INVALID_HANDLE);
  EXPECT_EQ(got, 0u);
  // The other file reads on, also after the driver itself is gone.
  driver.reset();
  ASSERT_EQ(ReadChunks(*report, 4096, data), STATUS_SUCCESS);
  EXPECT_EQ(data, testsupport::ExpectedContent(*fx_->Find("docs\\report.doc")));
}

// Small and large clusters: the same answers, checked the same way.
class NtfsDriverClusterTest : public ::testing::TestWithParam<int> {
 protected:
  void TearDown() override { platform::ResetPlatform(); }
};

TEST_P(NtfsDriverClusterTest, ReadsPointersAndVolumeDataHoldForTheClusterSize) {
  testsupport::NtfsFixtureOptions options;
  options.clusterSize = GetParam();
  options.sizeMb = GetParam() > 4096 ? 320 : 64;
  NtfsFixture fx;
  std::string error;
  const std::string path = testsupport::TempPath("clusters.img");
  ASSERT_TRUE(testsupport::BuildNtfsFixture(path, options, fx, error)) << error;
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  platform::SetDriveMap({platform::DriveEntry{'n', path, {}}});
  for (const NtfsFixtureEntry& e : fx.Entries()) {
    if (e.flags & (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream)) continue;
    if (e.path.rfind("many\\", 0) == 0) continue;
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadWhole("n:\\" + e.path, data)) << e.path;
    EXPECT_TRUE(data == testsupport::ExpectedContent(e)) << e.path;
  }
  std::vector<testsupport::LibntfsRun> runs;
  ASSERT_TRUE(testsupport::LibntfsRunlist(path, "frag\\many.bin", runs, error)) << error;
  int requests = 0;
  int64_t first = 0;
  const auto extents = AllExtents("n:\\frag\\many.bin", requests, first);
  const auto expected = JoinedRuns(runs);
  ASSERT_EQ(extents.size(), expected.size());
  for (size_t i = 0; i < extents.size(); ++i) {
    EXPECT_EQ(extents[i].nextVcn, expected[i].nextVcn) << i;
    EXPECT_EQ(extents[i].lcn, expected[i].lcn) << i;
  }
  HANDLE v = CreateFileA("\\\\.\\n:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  std::vector<uint8_t> out(96);
  ASSERT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, nullptr, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                            out.data(), 96),
            STATUS_SUCCESS);
  EXPECT_EQ(vr::U32(out, 0x2C), static_cast<uint32_t>(GetParam()));
  EXPECT_EQ(vr::U32(out, 0x34), 1024u / static_cast<uint32_t>(GetParam()));
  CloseHandle(v);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NtfsDriverClusterTest, ::testing::Values(512, 65536),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return "Cluster" + std::to_string(p.param);
                         });

// ---- Move rules ----

TEST(NtfsMoveRulesTest, ReleasedClustersWaitForTheFlushDelay) {
  platform::ResetPlatform();
  platform::SetVirtualSleep(true);
  platform::NtfsMoveRules rules;
  rules.SetFlushDelay(3000);
  std::set<int64_t> used = {10, 11};
  auto inUse = [&](int64_t c) { return used.count(c) != 0; };
  EXPECT_EQ(rules.CheckTarget(20, 4, 100, inUse), STATUS_SUCCESS);
  EXPECT_EQ(rules.CheckTarget(9, 2, 100, inUse), STATUS_ALREADY_COMMITTED);
  rules.Release(20, 2, 0);
  EXPECT_EQ(rules.CheckTarget(18, 3, 100, inUse), STATUS_ALREADY_COMMITTED);
  // The clock also counts the test's own running time: the checks keep a margin.
  Sleep(1500);
  EXPECT_EQ(rules.CheckTarget(21, 1, 100, inUse), STATUS_ALREADY_COMMITTED);
  Sleep(1500);
  EXPECT_EQ(rules.CheckTarget(18, 4, 100, inUse), STATUS_SUCCESS);
  EXPECT_EQ(rules.CheckTarget(98, 3, 100, inUse), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(rules.CheckTarget(5, 0, 100, inUse), STATUS_INVALID_PARAMETER);
  rules.Release(50, 1, 0);
  rules.Clear();
  EXPECT_FALSE(rules.Waiting(50));
  platform::ResetPlatform();
}

}  // namespace
