// FSCTL_MOVE_FILE on the NTFS driver, on copies of the mkntfs fixture
// filled by libntfs-3g: moves through the NT calls, then the volume checked
// by a fresh libntfs-3g mount, the program's raw reads, ntfsfix and The
// Sleuth Kit; refusals that write nothing; a stop after every write of a
// move and a failed write at every write of a move.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "drivers/builtin_drivers.h"
#include "drivers/ntfs/ntfs_driver.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "runtime/bytes.h"
#include "support/crash_replay.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace {

using namespace nt;
using testsupport::NtfsFixture;
using testsupport::NtfsFixtureEntry;

// Long beside the test's own running time, which the platform clock counts too.
constexpr uint64_t kDelayMs = 60000;

struct Extent {
  int64_t vcn, lcn, length;
  bool operator==(const Extent&) const = default;
};

class NtfsMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    platform::SetVirtualSleep(true);
    platform::SetNtfsFlushDelay(kDelayMs);
    fx_ = &testsupport::SharedNtfsFixture();
    ASSERT_FALSE(fx_->Entries().empty());
    image_ = testsupport::TempPath("move.img");
    original_ = testsupport::ReadFileBytes(fx_->Path());
    ASSERT_TRUE(testsupport::WriteFileBytes(image_, original_));
    cluster_ = vr::U16(original_, 0x0B) * vr::U8(original_, 0x0D);
  }
  void TearDown() override {
    platform::ResetPlatform();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
  }

  // The drive `letter` on the image file, its writes logged.
  void MapImage(char letter) {
    platform::SetDriveMap({platform::DriveEntry{letter, image_, {}}});
    platform::SetDeviceWrapper(letter, [this](std::shared_ptr<platform::BlockDevice> d) {
      log_ = std::make_shared<platform::WriteLogDevice>(std::move(d));
      return log_;
    });
  }
  size_t Writes() const { return log_ ? log_->Log().size() : 0; }

  // A fresh platform (sleeping virtually) with the memory drive 'm' on a
  // copy of the fixture, its writes logged below a device that fails the
  // `failWrite`th (0: none).
  std::shared_ptr<platform::MemoryDevice> MapFailingDrive(
      uint64_t failWrite, std::shared_ptr<platform::FaultDevice>& faults,
      std::shared_ptr<platform::WriteLogDevice>& log) const {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    platform::SetVirtualSleep(true);
    auto mem = std::make_shared<platform::MemoryDevice>(original_);
    platform::MapMemoryDrive('m', mem);
    platform::SetDeviceWrapper(
        'm', [&faults, &log, failWrite](std::shared_ptr<platform::BlockDevice> d) {
          log = std::make_shared<platform::WriteLogDevice>(std::move(d));
          faults = std::make_shared<platform::FaultDevice>(log, 0, failWrite);
          return faults;
        });
    return mem;
  }

  static HANDLE OpenVolume(char letter) {
    const std::string name = std::string("\\\\.\\") + letter + ":";
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, 0);
  }

  // One FSCTL_MOVE_FILE of `path` as the move engine sends it: the file
  // opened with share mode 0, the request on the volume handle.
  static NTSTATUS Move(HANDLE volume, const std::string& path, int64_t vcn, int64_t lcn,
                       uint32_t count, bool folder = false) {
    HANDLE f = folder ? CreateFileA(path, 1, 0, nullptr, OPEN_EXISTING, 0x02000000u, 0)
                      : CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
    if (f == INVALID_HANDLE_VALUE) return STATUS_INVALID_HANDLE;
    const NTSTATUS s = MoveHandle(volume, f, vcn, lcn, count);
    CloseHandle(f);
    return s;
  }
  static NTSTATUS MoveHandle(HANDLE volume, HANDLE file, int64_t vcn, int64_t lcn, uint32_t count,
                             DWORD size = 32) {
    uint8_t request[32] = {};
    vr::MutableBytes r(request, 32);
    vr::PutU32(r, 0, static_cast<uint32_t>(file));
    vr::PutU64(r, 8, static_cast<uint64_t>(vcn));
    vr::PutU64(r, 16, static_cast<uint64_t>(lcn));
    vr::PutU32(r, 24, count);
    IO_STATUS_BLOCK io;
    NTSTATUS s = NtFsControlFile(volume, 0, nullptr, nullptr, &io, FSCTL_MOVE_FILE, request, size,
                                 nullptr, 0);
    if (s == STATUS_PENDING) {
      WaitForSingleObject(volume, INFINITE);
      s = io.Status;
    }
    return s;
  }

  // The file's extents by retrieval pointers (holes as lcn -1).
  static std::vector<Extent> Extents(const std::string& path) {
    std::vector<Extent> extents;
    HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    std::vector<uint8_t> out(8208);
    int64_t vcn = 0;
    for (;;) {
      IO_STATUS_BLOCK io;
      const NTSTATUS s = NtFsControlFile(h, 0, nullptr, nullptr, &io, FSCTL_GET_RETRIEVAL_POINTERS,
                                         &vcn, 8, out.data(), 8208);
      if (s != STATUS_SUCCESS && s != STATUS_BUFFER_OVERFLOW) break;
      int64_t at = vr::I64(out, 8);
      for (uint32_t i = 0; i < vr::U32(out, 0); ++i) {
        const int64_t next = vr::I64(out, 16 + 16 * i);
        extents.push_back({at, vr::I64(out, 24 + 16 * i), next - at});
        at = next;
      }
      if (s == STATUS_SUCCESS) break;
      vcn = at;
    }
    CloseHandle(h);
    return extents;
  }

  // The cluster bitmap as FSCTL_GET_VOLUME_BITMAP gives it.
  static std::vector<uint8_t> Bitmap(HANDLE volume) {
    std::vector<uint8_t> out(1 << 20);
    int64_t start = 0;
    IO_STATUS_BLOCK io;
    EXPECT_EQ(NtFsControlFile(volume, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                              out.data(), static_cast<DWORD>(out.size())),
              STATUS_SUCCESS);
    const int64_t bits = vr::I64(out, 8);
    return std::vector<uint8_t>(out.begin() + 16, out.begin() + 16 + (bits + 7) / 8);
  }
  static bool Used(const std::vector<uint8_t>& bitmap, int64_t c) {
    return (bitmap[static_cast<size_t>(c / 8)] >> (c % 8)) & 1;
  }
  static void Mark(std::vector<uint8_t>& bitmap, int64_t lcn, int64_t count, bool used) {
    for (int64_t c = lcn; c < lcn + count; ++c) {
      const auto bit = static_cast<uint8_t>(1u << (c % 8));
      if (used)
        bitmap[static_cast<size_t>(c / 8)] |= bit;
      else
        bitmap[static_cast<size_t>(c / 8)] &= static_cast<uint8_t>(~bit);
    }
  }
  // The first run of `count` free clusters at or after `from`.
  static int64_t FreeRun(const std::vector<uint8_t>& bitmap, int64_t count, int64_t from) {
    int64_t run = 0;
    for (int64_t c = from; c < static_cast<int64_t>(bitmap.size()) * 8; ++c) {
      run = Used(bitmap, c) ? 0 : run + 1;
      if (run == count) return c - count + 1;
    }
    return -1;
  }

  // The clusters [lcn, lcn + count) read raw through the volume handle.
  std::vector<uint8_t> RawClusters(HANDLE volume, int64_t lcn, int64_t count) const {
    std::vector<uint8_t> bytes(static_cast<size_t>(count * cluster_));
    LONG high = static_cast<LONG>((lcn * cluster_) >> 32);
    EXPECT_NE(SetFilePointer(volume, static_cast<LONG>(lcn * cluster_), &high, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(volume, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
    return bytes;
  }

  // Every file of the fixture read through a fresh libntfs-3g mount of
  // `volume` (the driver, on a private copy) equals what was written.
  void ExpectEveryFileIntact(const std::vector<uint8_t>& volume) const {
    ExpectEveryFileIntact(volume, *fx_);
  }
  static void ExpectEveryFileIntact(const std::vector<uint8_t>& volume, const NtfsFixture& fx) {
    platform::DriverContext context;
    context.letter = 'z';
    context.fileSystem = "NTFS";
    context.device = std::make_shared<platform::MemoryDevice>(volume);
    std::string error;
    auto driver = platform::CreateNtfsDriver(context, error);
    ASSERT_TRUE(driver) << "libntfs-3g no longer mounts the volume: " << error;
    int files = 0;
    for (const NtfsFixtureEntry& e : fx.Entries()) {
      if (e.flags & (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream)) continue;
      std::unique_ptr<platform::DriverFile> file;
      ASSERT_EQ(driver->Open(e.path, file), STATUS_SUCCESS) << e.path;
      std::vector<uint8_t> data(e.size);
      for (uint64_t at = 0; at < e.size;) {
        uint32_t got = 0;
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(1 << 20, e.size - at));
        ASSERT_EQ(file->Read(at, data.data() + at, want, got), STATUS_SUCCESS) << e.path;
        ASSERT_GT(got, 0u) << e.path;
        at += got;
      }
      ASSERT_TRUE(data == testsupport::ExpectedContent(e)) << e.path << " changed";
      ++files;
    }
    EXPECT_GT(files, 600);
    // The fragmented files' clusters, wherever their runs point, are in use.
    std::vector<uint8_t> bitmap(16 + (1 << 16));
    int64_t zero = 0;
    platform::FsControlRequest ask;
    ask.code = FSCTL_GET_VOLUME_BITMAP;
    ask.in = &zero;
    ask.inSize = 8;
    ask.out = bitmap.data();
    ask.outSize = static_cast<DWORD>(bitmap.size());
    ASSERT_EQ(driver->FsControl(ask).status, STATUS_SUCCESS);
    for (const std::string path : {"frag\\alpha.bin", "frag\\beta.bin", "frag\\many.bin"}) {
      std::unique_ptr<platform::DriverFile> file;
      ASSERT_EQ(driver->Open(path, file), STATUS_SUCCESS);
      std::vector<uint8_t> out(16 + 16 * 1024);
      platform::FsControlRequest pointers;
      pointers.code = FSCTL_GET_RETRIEVAL_POINTERS;
      pointers.in = &zero;
      pointers.inSize = 8;
      pointers.out = out.data();
      pointers.outSize = static_cast<DWORD>(out.size());
      pointers.file = file.get();
      ASSERT_EQ(driver->FsControl(pointers).status, STATUS_SUCCESS) << path;
      int64_t vcn = 0;
      for (uint32_t i = 0; i < vr::U32(out, 0); ++i) {
        const int64_t next = vr::I64(out, 16 + 16 * i), lcn = vr::I64(out, 24 + 16 * i);
        for (int64_t c = lcn; c < lcn + next - vcn; ++c)
          ASSERT_TRUE((bitmap[16 + static_cast<size_t>(c / 8)] >> (c % 8)) & 1)
              << path << " cluster " << c << " is marked free";
        vcn = next;
      }
    }
  }

  // The other readers of the image file: libntfs-3g's own mount of the
  // path, icat, fls, fsstat and ntfsfix.
  void ExpectOtherToolsAgree(const std::vector<std::string>& moved) const {
    std::string out;
    EXPECT_EQ(testsupport::RunCommand("ntfsfix -n " + testsupport::ShellQuote(image_), out), 0)
        << out;
    EXPECT_EQ(testsupport::RunCommand("fsstat -f ntfs " + testsupport::ShellQuote(image_), out), 0)
        << out;
    EXPECT_EQ(testsupport::RunCommand("fls -r -f ntfs " + testsupport::ShellQuote(image_), out), 0)
        << out;
    EXPECT_NE(out.find("many.bin"), std::string::npos);
    for (const std::string& path : moved) {
      const NtfsFixtureEntry* e = fx_->Find(path);
      ASSERT_NE(e, nullptr);
      std::vector<uint8_t> direct;
      std::string error;
      ASSERT_TRUE(testsupport::LibntfsRead(image_, path, direct, error)) << error;
      EXPECT_TRUE(direct == testsupport::ExpectedContent(*e)) << path;
      int64_t record = 0;
      ASSERT_TRUE(testsupport::LibntfsRecordNumber(image_, path, record, error)) << error;
      const std::string copy = testsupport::TempPath("icat.out");
      ASSERT_EQ(
          testsupport::RunCommand("icat -f ntfs " + testsupport::ShellQuote(image_) + " " +
                                  std::to_string(record) + " > " + testsupport::ShellQuote(copy)),
          0);
      EXPECT_TRUE(testsupport::ReadFileBytes(copy) == testsupport::ExpectedContent(*e))
          << "icat reads " << path << " differently";
    }
  }

  const NtfsFixture* fx_ = nullptr;
  std::string image_;
  std::vector<uint8_t> original_;
  int64_t cluster_ = 0;
  std::shared_ptr<platform::WriteLogDevice> log_;
};

int64_t Clusters(const std::vector<Extent>& extents) {
  int64_t n = 0;
  for (const Extent& e : extents) n += e.lcn >= 0 ? e.length : 0;
  return n;
}

// The cluster of each VCN.
std::vector<int64_t> ClusterMap(const std::vector<Extent>& extents) {
  std::vector<int64_t> lcns;
  for (const Extent& e : extents)
    for (int64_t i = 0; i < e.length; ++i) lcns.push_back(e.lcn < 0 ? -1 : e.lcn + i);
  return lcns;
}

// Whole files, a middle piece, a partly used target, a target just
// released before and after the flush delay; then every reader agrees.
TEST_F(NtfsMoveTest, MovesKeepEveryFileAndTheVolumeSound) {
  MapImage('n');
  HANDLE v = OpenVolume('n');
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const uint64_t movesBefore = platform::NtfsMovesDone();
  std::vector<uint8_t> expected = Bitmap(v);
  const int64_t high = static_cast<int64_t>(expected.size()) * 8 / 2;

  // The 800-run file with an attribute list: 600 clusters from its middle,
  // across the FILE records that hold its extents, then all of it.
  const std::string many = "n:\\frag\\many.bin";
  const std::vector<Extent> manyBefore = Extents(many);
  ASSERT_EQ(Clusters(manyBefore), 800);
  ASSERT_GT(manyBefore.size(), 700u);
  const auto manyData = testsupport::ExpectedContent(*fx_->Find("frag\\many.bin"));
  const int64_t t0 = FreeRun(expected, 600, high);
  ASSERT_GT(t0, 0);
  ASSERT_EQ(Move(v, many, 100, t0, 600), STATUS_SUCCESS);
  std::vector<int64_t> lcns = ClusterMap(manyBefore);
  for (int64_t i = 0; i < 600; ++i) lcns[static_cast<size_t>(100 + i)] = t0 + i;
  EXPECT_EQ(ClusterMap(Extents(many)), lcns);
  std::vector<uint8_t> raw = RawClusters(v, t0, 600);
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), manyData.begin() + 100 * cluster_))
      << "the program's raw reads see the data at its new place";
  Mark(expected, t0, 600, true);
  for (int64_t vcn = 100; vcn < 700; ++vcn)
    Mark(expected, ClusterMap(manyBefore)[static_cast<size_t>(vcn)], 1, false);

  const std::vector<Extent> manyMiddle = Extents(many);
  const int64_t t1 = FreeRun(expected, 800, t0 + 600);
  ASSERT_GT(t1, 0);
  size_t writes = Writes();
  ASSERT_EQ(Move(v, many, 0, t1, 800), STATUS_SUCCESS);
  EXPECT_GT(Writes(), writes);
  EXPECT_EQ(Extents(many), (std::vector<Extent>{{0, t1, 800}}));
  raw = RawClusters(v, t1, 800);
  EXPECT_TRUE(std::equal(manyData.begin(), manyData.end(), raw.begin()));
  // The old clusters stay in use until the flush delay has passed.
  std::vector<uint8_t> now = Bitmap(v);
  for (const Extent& e : manyMiddle) EXPECT_TRUE(Used(now, e.lcn)) << e.lcn;
  Mark(expected, t1, 800, true);
  for (const Extent& e : manyMiddle) Mark(expected, e.lcn, e.length, false);

  // The middle of a 40-run file: runs before and after stay.
  const std::string alpha = "n:\\frag\\alpha.bin";
  const std::vector<Extent> alphaBefore = Extents(alpha);
  ASSERT_EQ(alphaBefore.size(), 40u);
  const int64_t t2 = FreeRun(now, 20, t1 + 800);
  ASSERT_GT(t2, 0);
  ASSERT_EQ(Move(v, alpha, 10, t2, 20), STATUS_SUCCESS);
  std::vector<Extent> alphaWant(alphaBefore.begin(), alphaBefore.begin() + 10);
  alphaWant.push_back({10, t2, 20});
  alphaWant.insert(alphaWant.end(), alphaBefore.begin() + 30, alphaBefore.end());
  EXPECT_EQ(Extents(alpha), alphaWant);
  Mark(expected, t2, 20, true);
  for (int i = 10; i < 30; ++i) Mark(expected, alphaBefore[i].lcn, 1, false);

  // A target whose last cluster is in use: refused, nothing written.
  const std::string beta = "n:\\frag\\beta.bin";
  const std::vector<Extent> betaBefore = Extents(beta);
  now = Bitmap(v);
  int64_t t3 = t2 + 20;
  while (t3 + 40 < static_cast<int64_t>(now.size()) * 8 &&
         !(FreeRun(now, 39, t3) == t3 && Used(now, t3 + 39)))
    ++t3;
  ASSERT_TRUE(Used(now, t3 + 39) && FreeRun(now, 39, t3) == t3);
  writes = Writes();
  EXPECT_EQ(Move(v, beta, 0, t3, 40), STATUS_ALREADY_COMMITTED);
  EXPECT_EQ(Writes(), writes) << "a refused move writes nothing";
  EXPECT_EQ(Extents(beta), betaBefore);

  // many.bin again: its first place, one run, is released after the delay.
  const int64_t t4 = FreeRun(Bitmap(v), 800, t3 + 40);
  ASSERT_GT(t4, 0);
  ASSERT_EQ(Move(v, many, 0, t4, 800), STATUS_SUCCESS);
  Mark(expected, t1, 800, false);
  Mark(expected, t4, 800, true);
  Sleep(kDelayMs / 2);
  EXPECT_TRUE(Used(Bitmap(v), t1)) << "released clusters wait for the flush delay";
  writes = Writes();
  EXPECT_EQ(Move(v, beta, 0, t1, 40), STATUS_ALREADY_COMMITTED);
  EXPECT_EQ(Writes(), writes);
  Sleep(kDelayMs / 2);
  EXPECT_FALSE(Used(Bitmap(v), t1)) << "and are free once it has passed";
  ASSERT_EQ(Move(v, beta, 0, t1, 40), STATUS_SUCCESS);
  EXPECT_EQ(Extents(beta), (std::vector<Extent>{{0, t1, 40}}));
  Mark(expected, t1, 40, true);
  for (const Extent& e : betaBefore) Mark(expected, e.lcn, e.length, false);
  EXPECT_EQ(platform::NtfsMovesDone() - movesBefore, 5u);

  // Locking the volume frees what still waits (the driver's flush before
  // the lock). Then the bitmap is the old one with exactly the targets taken
  // and the old places freed, and every file's runs are in use.
  EXPECT_TRUE(Used(Bitmap(v), betaBefore[0].lcn));
  CloseHandle(v);
  v = CreateFileA("\\\\.\\n:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  writes = Writes();
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &done, nullptr));
  EXPECT_EQ(Writes(), writes + 1) << "the waiting clusters freed in one bitmap write";
  ASSERT_TRUE(DeviceIoControl(v, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &done, nullptr));
  CloseHandle(v);
  v = OpenVolume('n');
  const std::vector<uint8_t> after = Bitmap(v);
  EXPECT_TRUE(after == expected) << "the bitmap and the run lists disagree";
  for (const std::string& path : {many, alpha, beta, std::string("n:\\docs\\report.doc")})
    for (const Extent& e : Extents(path))
      for (int64_t c = e.lcn; c < e.lcn + e.length; ++c) ASSERT_TRUE(Used(after, c)) << path;
  CloseHandle(v);
  platform::ResetPlatform();

  ExpectEveryFileIntact(testsupport::ReadFileBytes(image_));
  ExpectOtherToolsAgree({"frag\\many.bin", "frag\\alpha.bin", "frag\\beta.bin"});
}

// A run list that would outgrow its FILE record leaves the file where it
// is. pagefile.sys (one run) gets a record with no room left: its
// $STANDARD_INFORMATION takes up the free space. Splitting its run in
// three is refused before anything is written.
TEST_F(NtfsMoveTest, ARunListThatWouldNotFitItsRecordIsRefused) {
  int64_t record = 0;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRecordNumber(image_, "pagefile.sys", record, error)) << error;
  std::vector<uint8_t> image = original_;
  const size_t at = static_cast<size_t>(vr::U64(image, 0x30) * cluster_ + 1024 * record);
  vr::MutableBytes rec(image.data() + at, 1024);
  const int64_t usa = vr::U16(rec, 4), sectors = vr::U16(rec, 6) - 1;
  for (int64_t i = 1; i <= sectors; ++i) vr::PutU16(rec, i * 512 - 2, vr::U16(rec, usa + 2 * i));
  const uint32_t first = vr::U16(rec, 0x14), inUse = vr::U32(rec, 0x18);
  ASSERT_EQ(vr::U32(rec, first), 0x10u);
  const uint32_t grow = (vr::U32(rec, 0x1C) - inUse) & ~7u;
  const uint32_t length = vr::U32(rec, first + 4);
  std::memmove(rec.data() + first + length + grow, rec.data() + first + length,
               inUse - first - length);
  std::memset(rec.data() + first + length, 0, grow);
  vr::PutU32(rec, first + 4, length + grow);
  vr::PutU32(rec, 0x18, inUse + grow);
  for (int64_t i = 1; i <= sectors; ++i) {
    vr::PutU16(rec, usa + 2 * i, vr::U16(rec, i * 512 - 2));
    vr::PutU16(rec, i * 512 - 2, vr::U16(rec, usa));
  }
  ASSERT_TRUE(testsupport::WriteFileBytes(image_, image));
  MapImage('n');
  HANDLE v = OpenVolume('n');
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const std::vector<Extent> before = Extents("n:\\pagefile.sys");
  ASSERT_EQ(before.size(), 1u) << "libntfs-3g reads the record with its slack";
  const std::vector<uint8_t> bitmap = Bitmap(v);
  const int64_t target = FreeRun(bitmap, 1, static_cast<int64_t>(bitmap.size()) * 6);
  const size_t writes = Writes();
  EXPECT_EQ(Move(v, "n:\\pagefile.sys", 100, target, 1), platform::STATUS_DISK_FULL);
  EXPECT_EQ(Writes(), writes);
  EXPECT_EQ(Move(v, "n:\\pagefile.sys", 0, FreeRun(bitmap, 256, target + 1), 256), STATUS_SUCCESS)
      << "a whole move needs no more room";
  CloseHandle(v);
  platform::ResetPlatform();
  std::vector<uint8_t> data;
  ASSERT_TRUE(testsupport::LibntfsRead(image_, "pagefile.sys", data, error)) << error;
  EXPECT_TRUE(data == testsupport::ExpectedContent(*fx_->Find("pagefile.sys")));
}

// A device that refuses writes while `locked` is set, as the platform's
// gate does while the program holds the volume locked; it counts writes.
class LockGate : public platform::ForwardingDevice {
 public:
  LockGate(std::shared_ptr<platform::BlockDevice> inner, std::shared_ptr<bool> locked)
      : ForwardingDevice(std::move(inner)), locked_(std::move(locked)) {}
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    ++writes;
    return !*locked_ && inner_->Write(offset, buffer, size);
  }
  bool ReadOnly() const override { return *locked_ || inner_->ReadOnly(); }
  int writes = 0;

 private:
  std::shared_ptr<bool> locked_;
};

// Every refusal answers its status before anything is written.
TEST_F(NtfsMoveTest, RefusalsAnswerTheirStatusAndWriteNothing) {
  MapImage('n');
  HANDLE v = OpenVolume('n');
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const std::vector<uint8_t> bitmap = Bitmap(v);
  const int64_t total = static_cast<int64_t>(bitmap.size()) * 8;
  const int64_t free = FreeRun(bitmap, 64, total / 2);
  ASSERT_GT(free, 0);
  const std::string report = "n:\\docs\\report.doc";  // 50000 bytes: 13 clusters of 4 KB
  const std::vector<Extent> reportRuns = Extents(report);
  ASSERT_EQ(Clusters(reportRuns), 13);
  HANDLE f = CreateFileA(report, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(MoveHandle(v, f, 0, free, 13, 31), STATUS_INVALID_PARAMETER) << "a short request";
  EXPECT_EQ(MoveHandle(v, 12345, 0, free, 13), STATUS_INVALID_HANDLE);
  EXPECT_EQ(MoveHandle(v, f, -1, free, 13), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(MoveHandle(v, f, 0, free, 0), STATUS_INVALID_PARAMETER) << "no clusters";
  EXPECT_EQ(MoveHandle(v, f, 13, free, 1), STATUS_INVALID_PARAMETER) << "past the file's end";
  EXPECT_EQ(MoveHandle(v, f, 5, free, 9), STATUS_INVALID_PARAMETER) << "across the file's end";
  EXPECT_EQ(MoveHandle(v, f, 0, total - 12, 13), STATUS_INVALID_PARAMETER) << "past the volume";
  EXPECT_EQ(MoveHandle(v, f, 0, -5, 13), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(MoveHandle(v, f, 0, reportRuns[0].lcn + 1, 13), STATUS_ALREADY_COMMITTED)
      << "onto its own clusters";
  CloseHandle(f);
  EXPECT_EQ(Move(v, "n:\\small.txt", 0, free, 1), STATUS_INVALID_PARAMETER) << "data in the record";
  EXPECT_EQ(Move(v, "n:\\empty.dat", 0, free, 1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Move(v, "n:\\many", 0, free, 1, true), STATUS_INVALID_PARAMETER)
      << "a folder's index allocation is not movable";
  EXPECT_EQ(Move(v, "n:\\sparse\\sparse.bin", 0, free, 2), STATUS_ALREADY_COMMITTED);
  if (fx_->HasCompressed()) {
    EXPECT_EQ(Move(v, "n:\\compressed\\packed.txt", 0, free, 0x7FFFFFFF), STATUS_ALREADY_COMMITTED);
    EXPECT_EQ(Move(v, "n:\\compressed\\random.bin", 0, free, 16), STATUS_ALREADY_COMMITTED);
  }
  EXPECT_EQ(Extents(report), reportRuns);
  CloseHandle(v);
  platform::ResetPlatform();
  EXPECT_EQ(Writes(), 0u);
  EXPECT_TRUE(testsupport::ReadFileBytes(image_) == original_) << "the image changed";

  // A drive that cannot be written, through the NT calls.
  platform::RegisterBuiltinDrivers();
  auto readOnly = std::make_shared<platform::MemoryDevice>(original_, true);
  platform::MapMemoryDrive('r', readOnly);
  v = CreateFileA("\\\\.\\r:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Move(v, "r:\\frag\\many.bin", 0, free, 800), STATUS_MEDIA_WRITE_PROTECTED);
  CloseHandle(v);
  platform::ResetPlatform();
  EXPECT_TRUE(readOnly->Bytes() == original_);

  // The driver given a volume served read-only (a mounted block device),
  // and one the program holds locked.
  auto locked = std::make_shared<bool>(false);
  auto gate =
      std::make_shared<LockGate>(std::make_shared<platform::MemoryDevice>(original_), locked);
  for (const bool readOnly : {true, false}) {
    platform::DriverContext context;
    context.letter = 'm';
    context.fileSystem = "NTFS";
    context.device = gate;
    context.readOnly = readOnly;
    *locked = !readOnly;
    std::string error;
    auto driver = platform::CreateNtfsDriver(context, error);
    ASSERT_TRUE(driver) << error;
    std::unique_ptr<platform::DriverFile> file;
    ASSERT_EQ(driver->Open("docs\\report.doc", file), STATUS_SUCCESS);
    uint8_t request[32] = {};
    vr::MutableBytes r(request, 32);
    vr::PutU32(r, 0, 77);
    vr::PutU64(r, 16, static_cast<uint64_t>(free));
    vr::PutU32(r, 24, 13);
    platform::FsControlRequest move;
    move.code = FSCTL_MOVE_FILE;
    move.in = request;
    move.inSize = 32;
    move.fileOfHandle = [&](HANDLE h) { return h == 77 ? file.get() : nullptr; };
    EXPECT_EQ(driver->FsControl(move).status,
              readOnly ? STATUS_MEDIA_WRITE_PROTECTED : STATUS_ACCESS_DENIED);
  }
  EXPECT_EQ(gate->writes, 0);
}

// One move of the 800-run file, whose extents lie in several FILE records,
// and the release after the flush delay: stopped after any write, the
// volume mounts and every file reads as it was written. The move itself
// writes the data and the target's bits; its records wait in memory until
// the release flushes them, after the data.
TEST_F(NtfsMoveTest, AStopAfterAnyWriteOfAMoveLeavesEveryFileIntact) {
  platform::MapMemoryDrive('m', std::make_shared<platform::MemoryDevice>(original_));
  std::shared_ptr<platform::WriteLogDevice> log;
  platform::SetDeviceWrapper('m', [&log](std::shared_ptr<platform::BlockDevice> d) {
    log = std::make_shared<platform::WriteLogDevice>(std::move(d));
    return log;
  });
  HANDLE v = OpenVolume('m');
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const std::vector<uint8_t> bitmap = Bitmap(v);
  const int64_t target = FreeRun(bitmap, 800, static_cast<int64_t>(bitmap.size()) * 4);
  ASSERT_EQ(Move(v, "m:\\frag\\many.bin", 0, target, 800), STATUS_SUCCESS);
  const size_t moved = log->Log().size();
  const auto isRecord = [&](size_t i) {
    const std::vector<uint8_t>& bytes = log->Log()[i].bytes;
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "FILE", 4) == 0;
  };
  // The data (4 writes of 1 MB) and the target's bits; no record yet.
  ASSERT_EQ(moved, 5u);
  for (size_t i = 0; i < moved; ++i) EXPECT_FALSE(isRecord(i)) << i;
  Sleep(kDelayMs);
  Bitmap(v);  // any request after the delay writes the records and frees the old clusters
  CloseHandle(v);
  ASSERT_GE(log->Log().size(), moved + 3);
  for (size_t i = moved; i + 1 < log->Log().size(); ++i) EXPECT_TRUE(isRecord(i)) << i;
  EXPECT_FALSE(isRecord(log->Log().size() - 1))
      << "the 800 scattered clusters are freed in one write";
  testsupport::ForEachCrashPoint(original_, *log, [&](size_t, const std::vector<uint8_t>& volume) {
    ExpectEveryFileIntact(volume);
  });
}

// Records, over a write log, after how many logged writes each flush came.
class FlushMarks : public platform::BlockDevice {
 public:
  explicit FlushMarks(std::shared_ptr<platform::WriteLogDevice> log) : log_(std::move(log)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    return log_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    return log_->Write(offset, buffer, size);
  }
  bool Flush() override {
    if (!log_->Flush()) return false;
    marks.push_back(log_->Log().size());
    return true;
  }
  uint64_t Size() const override { return log_->Size(); }
  bool ReadOnly() const override { return log_->ReadOnly(); }
  std::vector<size_t> marks;

 private:
  std::shared_ptr<platform::WriteLogDevice> log_;
};

// A disk may keep the writes since the last flush in any order: a stop
// may lose any of them and keep later ones. Two moves and the release of
// their old clusters, the second release coming before anything flushed
// the second move's records: for every stretch of writes between two
// flushes, the volume with all of them but one (each in turn) still
// mounts, every file reads as written and every file's clusters are in
// use (stops in order are the test above's). A move does not flush: its
// records wait in memory; a release whose records are still held flushes
// the data, writes the records of every held move and flushes again, and
// a release whose records such a flush already wrote flushes nothing.
TEST_F(NtfsMoveTest, WritesBetweenTwoFlushesMayReachTheDiskInAnyOrder) {
  platform::MapMemoryDrive('m', std::make_shared<platform::MemoryDevice>(original_));
  std::shared_ptr<platform::WriteLogDevice> log;
  std::shared_ptr<FlushMarks> flushes;
  platform::SetDeviceWrapper('m', [&](std::shared_ptr<platform::BlockDevice> d) {
    log = std::make_shared<platform::WriteLogDevice>(std::move(d));
    flushes = std::make_shared<FlushMarks>(log);
    return flushes;
  });
  HANDLE v = OpenVolume('m');
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const std::vector<uint8_t> bitmap = Bitmap(v);
  const int64_t high = static_cast<int64_t>(bitmap.size()) * 4;
  const int64_t t1 = FreeRun(bitmap, 800, high);
  const int64_t alpha = Clusters(Extents("m:\\frag\\alpha.bin"));
  const int64_t t2 = FreeRun(bitmap, alpha, t1 + 800);
  ASSERT_GT(t2, 0);
  const std::vector<Extent> manyOld = Extents("m:\\frag\\many.bin");
  const std::vector<Extent> alphaOld = Extents("m:\\frag\\alpha.bin");
  const auto flushesSince = [&](size_t before) { return flushes->marks.size() - before; };

  size_t before = flushes->marks.size();
  ASSERT_EQ(Move(v, "m:\\frag\\many.bin", 0, t1, 800), STATUS_SUCCESS);
  // The first move also mounts the volume for writing, which flushes too.
  EXPECT_LE(flushesSince(before), 2u);
  Sleep(kDelayMs / 2);
  before = flushes->marks.size();
  ASSERT_EQ(Move(v, "m:\\frag\\alpha.bin", 0, t2, static_cast<uint32_t>(alpha)), STATUS_SUCCESS);
  EXPECT_EQ(flushesSince(before), 0u) << "a move holds its records back";
  Sleep(kDelayMs / 2);
  // many.bin's clusters are due; the records of both moves are still held.
  before = flushes->marks.size();
  const size_t writes = log->Log().size();
  const std::vector<uint8_t> half = Bitmap(v);
  EXPECT_EQ(flushesSince(before), 2u) << "the data flushed, then the records of both moves";
  EXPECT_GT(log->Log().size(), writes) << "many.bin's old clusters were freed";
  for (const int64_t c : ClusterMap(manyOld)) EXPECT_FALSE(Used(half, c)) << c;
  for (const int64_t c : ClusterMap(alphaOld)) EXPECT_TRUE(Used(half, c)) << c;
  Sleep(kDelayMs / 2);
  // alpha.bin's clusters are due; the last flush made its records durable.
  before = flushes->marks.size();
  Bitmap(v);
  EXPECT_EQ(flushesSince(before), 0u) << "a release after a flush that covers its records";
  CloseHandle(v);

  const std::vector<platform::WriteLogDevice::Entry>& entries = log->Log();
  std::vector<size_t> bounds = flushes->marks;  // the stretches between two flushes
  bounds.push_back(0);
  bounds.push_back(entries.size());
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  size_t checked = 0;
  for (size_t b = 1; b < bounds.size(); ++b) {
    for (size_t lost = bounds[b - 1]; lost < bounds[b] && bounds[b] - bounds[b - 1] > 1; ++lost) {
      SCOPED_TRACE("write " + std::to_string(lost) + " lost of the " + std::to_string(bounds[b]) +
                   " before a flush");
      std::vector<uint8_t> volume = original_;
      for (size_t i = 0; i < bounds[b]; ++i) {
        if (i == lost) continue;
        const auto at = static_cast<ptrdiff_t>(entries[i].offset);
        ASSERT_LE(entries[i].offset + entries[i].bytes.size(), volume.size());
        std::copy(entries[i].bytes.begin(), entries[i].bytes.end(), volume.begin() + at);
      }
      ExpectEveryFileIntact(volume);
      ++checked;
    }
  }
  EXPECT_GT(checked, 4u);
}

// A failed write at each write of one move and of the flush that writes its
// held records: the request or the flush ends in an error status and every
// file still reads as it was written. A FILE record whose write failed is
// not written again later (when the file closes or the mount goes): after
// a device error the move writes nothing more of it.
TEST_F(NtfsMoveTest, AFailedWriteInAMoveEndsInAnErrorAndLeavesEveryFileIntact) {
  struct Outcome {
    NTSTATUS status;
    std::vector<uint8_t> volume;
    std::vector<platform::WriteLogDevice::Entry> writes;  // that reached the device
  };
  const auto run = [&](uint64_t failWrite, size_t& writes) {
    std::shared_ptr<platform::FaultDevice> faults;
    std::shared_ptr<platform::WriteLogDevice> log;
    const auto mem = MapFailingDrive(failWrite, faults, log);
    HANDLE v = OpenVolume('m');
    EXPECT_NE(v, INVALID_HANDLE_VALUE);
    const std::vector<uint8_t> bitmap = Bitmap(v);
    const int64_t target = FreeRun(bitmap, 800, static_cast<int64_t>(bitmap.size()) * 4);
    NTSTATUS status = Move(v, "m:\\frag\\many.bin", 0, target, 800);
    if (status == STATUS_SUCCESS) status = NtFlushBuffersFile(v, nullptr);
    writes = faults->Writes();
    CloseHandle(v);
    platform::ResetPlatform();
    return Outcome{status, mem->Bytes(), log->Log()};
  };
  size_t writes = 0;
  const Outcome done = run(0, writes);
  ASSERT_EQ(done.status, STATUS_SUCCESS);
  ASSERT_GE(writes, 7u);
  ASSERT_GE(done.writes.size(), writes);
  size_t recordFailures = 0;
  for (uint64_t k = 1; k <= writes; ++k) {
    SCOPED_TRACE("write " + std::to_string(k) + " of " + std::to_string(writes) + " failed");
    size_t ignored = 0;
    const Outcome out = run(k, ignored);
    EXPECT_NE(out.status, STATUS_SUCCESS);
    ExpectEveryFileIntact(out.volume);
    // Up to the failure the move writes what it wrote when nothing failed.
    const platform::WriteLogDevice::Entry& failed = done.writes[k - 1];
    if (failed.bytes.size() < 4 || std::memcmp(failed.bytes.data(), "FILE", 4) != 0) continue;
    ++recordFailures;
    for (size_t i = k - 1; i < out.writes.size(); ++i)
      EXPECT_NE(out.writes[i].offset, failed.offset) << "a later write retries the record";
  }
  // The base record and its extension records each fail once.
  EXPECT_GE(recordFailures, 2u);
}

// Two moves whose records are held in memory; the flush that writes them
// fails at the second record write. The flush answers the device's error,
// every file reads as it was written, nothing held is written after the
// failure, and the old clusters of both moves stay in use past the flush
// delay: a record on the disk may still point at them.
TEST_F(NtfsMoveTest, AFailedFlushOfHeldRecordsFreesNothingARecordMayStillUse) {
  struct Outcome {
    NTSTATUS flush = STATUS_SUCCESS;
    uint64_t writesBeforeFlush = 0;
    std::vector<uint8_t> after;  // the bitmap a request past the delay sees
    std::vector<uint8_t> volume;
    std::vector<platform::WriteLogDevice::Entry> writes;
  };
  std::vector<Extent> manyOld, alphaOld;
  const auto run = [&](uint64_t failWrite) {
    std::shared_ptr<platform::FaultDevice> faults;
    std::shared_ptr<platform::WriteLogDevice> log;
    const auto mem = MapFailingDrive(failWrite, faults, log);
    Outcome out;
    HANDLE v = OpenVolume('m');
    EXPECT_NE(v, INVALID_HANDLE_VALUE);
    const std::vector<uint8_t> bitmap = Bitmap(v);
    const int64_t t1 = FreeRun(bitmap, 800, static_cast<int64_t>(bitmap.size()) * 4);
    manyOld = Extents("m:\\frag\\many.bin");
    alphaOld = Extents("m:\\frag\\alpha.bin");
    const int64_t t2 = FreeRun(bitmap, Clusters(alphaOld), t1 + 800);
    EXPECT_EQ(Move(v, "m:\\frag\\many.bin", 0, t1, 800), STATUS_SUCCESS);
    EXPECT_EQ(Move(v, "m:\\frag\\alpha.bin", 0, t2, static_cast<uint32_t>(Clusters(alphaOld))),
              STATUS_SUCCESS);
    out.writesBeforeFlush = faults->Writes();
    out.flush = NtFlushBuffersFile(v, nullptr);
    Sleep(kDelayMs);
    out.after = Bitmap(v);
    CloseHandle(v);
    platform::ResetPlatform();
    out.volume = mem->Bytes();
    out.writes = log->Log();
    return out;
  };
  const Outcome done = run(0);
  ASSERT_EQ(done.flush, STATUS_SUCCESS);
  for (const int64_t c : ClusterMap(manyOld)) EXPECT_FALSE(Used(done.after, c)) << c;
  const uint64_t failAt = done.writesBeforeFlush + 2;
  ASSERT_LT(failAt, done.writes.size());
  const platform::WriteLogDevice::Entry failed = done.writes[failAt - 1];
  ASSERT_EQ(std::memcmp(failed.bytes.data(), "FILE", 4), 0) << "the second held record";

  const Outcome out = run(failAt);
  EXPECT_NE(out.flush, STATUS_SUCCESS);
  ExpectEveryFileIntact(out.volume);
  ASSERT_EQ(out.writes.size(), failAt - 1) << "nothing written after the failure";
  for (const int64_t c : ClusterMap(manyOld)) EXPECT_TRUE(Used(out.after, c)) << c;
  for (const int64_t c : ClusterMap(alphaOld)) EXPECT_TRUE(Used(out.after, c)) << c;
}

// Clusters of one sector: the same moves, the same checks.
TEST_F(NtfsMoveTest, MovesHoldForClustersOfOneSector) {
  testsupport::NtfsFixtureOptions options;
  options.clusterSize = 512;
  NtfsFixture fx;
  std::string error;
  const std::string path = testsupport::TempPath("move512.img");
  ASSERT_TRUE(testsupport::BuildNtfsFixture(path, options, fx, error)) << error;
  platform::SetDriveMap({platform::DriveEntry{'n', path, {}}});
  HANDLE v = OpenVolume('n');
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const std::vector<uint8_t> bitmap = Bitmap(v);
  const int64_t high = static_cast<int64_t>(bitmap.size()) * 4;
  const int64_t t1 = FreeRun(bitmap, 800, high);
  const int64_t t2 = FreeRun(bitmap, 20, t1 + 800);
  ASSERT_GT(t2, 0);
  const std::vector<Extent> many = Extents("n:\\frag\\many.bin");
  ASSERT_EQ(Move(v, "n:\\frag\\many.bin", 0, t1, 800), STATUS_SUCCESS);
  EXPECT_EQ(Extents("n:\\frag\\many.bin"), (std::vector<Extent>{{0, t1, 800}}));
  const std::vector<Extent> alpha = Extents("n:\\frag\\alpha.bin");
  ASSERT_EQ(Move(v, "n:\\frag\\alpha.bin", 10, t2, 20), STATUS_SUCCESS);
  std::vector<int64_t> lcns = ClusterMap(alpha);
  for (int64_t i = 0; i < 20; ++i) lcns[static_cast<size_t>(10 + i)] = t2 + i;
  EXPECT_EQ(ClusterMap(Extents("n:\\frag\\alpha.bin")), lcns);
  CloseHandle(v);
  // The driver going away (a dismount) frees what still waits for the delay.
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  platform::SetDriveMap({platform::DriveEntry{'n', path, {}}});
  v = OpenVolume('n');
  const std::vector<uint8_t> after = Bitmap(v);
  CloseHandle(v);
  platform::ResetPlatform();
  for (const Extent& e : many) EXPECT_FALSE(Used(after, e.lcn)) << e.lcn;
  for (int i = 10; i < 30; ++i)
    EXPECT_FALSE(Used(after, ClusterMap(alpha)[static_cast<size_t>(i)]));
  for (int64_t c = t1; c < t1 + 800; ++c) ASSERT_TRUE(Used(after, c));
  ExpectEveryFileIntact(testsupport::ReadFileBytes(path), fx);
  std::string out;
  EXPECT_EQ(testsupport::RunCommand("ntfsfix -n " + testsupport::ShellQuote(path), out), 0) << out;
}

}  // namespace
