// The emulated FAT driver on real FAT12/FAT16 volumes made by mkfs.fat and
// filled by mtools, used through the NT calls as the program uses them:
// file contents, listings, attributes, the volume bitmap and retrieval
// pointers checked against mtools and a plain FAT reader.
#include "drivers/fat/fat_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "drivers/builtin_drivers.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "support/volume_images.h"

namespace {

using namespace nt;
namespace ts = testsupport;

enum class Fixture { kFat12, kFat16, kFat16DefaultReserved };

std::string FixtureName(Fixture f) {
  switch (f) {
    case Fixture::kFat12: return "Fat12";
    case Fixture::kFat16: return "Fat16";
    default: return "Fat16DefaultReserved";
  }
}
// Test listings show the volume, not its enum bytes.
void PrintTo(Fixture f, std::ostream* os) { *os << FixtureName(f); }

// Each standard volume is built once per test program and removed at exit.
const ts::FatVolume& Volume(Fixture f) {
  struct Built {
    ts::FatVolume volume;
    ts::RemoveOnExit remove;
  };
  static std::map<Fixture, std::unique_ptr<Built>> built;
  auto& slot = built[f];
  if (!slot) {
    slot = std::make_unique<Built>();
    const std::string name = "drv" + FixtureName(f);
    slot->volume = f == Fixture::kFat12   ? ts::MakeFat12Fixture(name)
                   : f == Fixture::kFat16 ? ts::MakeFat16Fixture(name)
                                          : ts::MakeFat16DefaultReservedFixture(name);
    slot->remove.path = slot->volume.Path();
  }
  return slot->volume;
}

std::string WinPath(const std::string& path) {
  std::string p = "c:\\" + path;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

uint64_t Le(const std::vector<uint8_t>& b, size_t at, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<size_t>(i));
  return v;
}

HANDLE OpenFile(const std::string& path, DWORD share = FILE_SHARE_READ) {
  return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0xA0000000u, 0);
}

HANDLE OpenFolder(const std::string& path) {
  return CreateFileA(path, 1, 0, nullptr, OPEN_EXISTING, 0x02000000u, 0);
}

// The whole file through CreateFileA and ReadFile, in reads of `chunk`
// bytes (not a multiple of the cluster size, so reads cross clusters).
std::vector<uint8_t> ReadThroughDriver(const std::string& path, DWORD chunk = 1000) {
  std::vector<uint8_t> data;
  HANDLE h = OpenFile(path);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  if (h == INVALID_HANDLE_VALUE) return data;
  std::vector<uint8_t> buf(chunk);
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf.data(), chunk, &n, nullptr)) {
      ADD_FAILURE() << path << ": ReadFile failed " << GetLastError();
      break;
    }
    if (n == 0) break;
    data.insert(data.end(), buf.begin(), buf.begin() + n);
  }
  CloseHandle(h);
  return data;
}

struct Listed {
  std::string path;  // long names joined by "/"
  WIN32_FIND_DATAA data;
};

void ListFolder(const std::string& folder, std::vector<Listed>& out) {
  WIN32_FIND_DATAA fd;
  const std::string pattern = WinPath(folder.empty() ? "*.*" : folder + "/*.*");
  HANDLE h = FindFirstFileA(pattern, &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << pattern << " error " << GetLastError();
  std::vector<std::string> subfolders;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder.empty() ? name : folder + "/" + name;
    out.push_back({path, fd});
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) subfolders.push_back(path);
  } while (FindNextFileA(h, &fd));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(h);
  for (const auto& sub : subfolders) ListFolder(sub, out);
}

std::vector<Listed> ListTree() {
  std::vector<Listed> all;
  ListFolder("", all);
  return all;
}

// What mdir -/ -a reports for one entry.
struct MdirEntry {
  std::string name, shortName;
  uint64_t size = 0;
  bool folder = false;
  std::string stamp;  // "YYYY-MM-DD HH:MM"
};

// mdir -/ -a, by folder ("" the root, "DOCS/Old Letters", ...).
std::map<std::string, std::vector<MdirEntry>> Mdir(const std::string& image) {
  std::string out;
  EXPECT_EQ(ts::RunFatTool("mdir -/ -a -i " + ts::ShellQuote(image) + " ::/", &out), 0) << out;
  std::map<std::string, std::vector<MdirEntry>> folders;
  static const std::regex line(
      R"(^(.{8}) (.{3}) +(<DIR>|[0-9]+) +([0-9]{4}-[0-9]{2}-[0-9]{2}) +([0-9]{1,2}):([0-9]{2}) ?(.*)$)");
  std::string folder;
  std::istringstream in(out);
  std::string text;
  auto trim = [](std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  while (std::getline(in, text)) {
    if (text.rfind("Directory for ::/", 0) == 0) {
      folder = trim(text.substr(17));
      continue;
    }
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    const std::string base = trim(m[1]), ext = trim(m[2]);
    if (base == "." || base == "..") continue;
    MdirEntry e;
    const std::string shortName = ext.empty() ? base : base + "." + ext;
    std::string longName = m[7];
    if (!longName.empty() && longName[0] == ' ') longName.erase(0, 1);
    e.name = longName.empty() ? shortName : longName;
    e.shortName = longName.empty() ? "" : shortName;
    e.folder = m[3] == "<DIR>";
    e.size = e.folder ? 0 : std::stoull(m[3]);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%s %02d:%s", m[4].str().c_str(), std::stoi(m[5]),
                  m[6].str().c_str());
    e.stamp = stamp;
    folders[folder].push_back(e);
  }
  return folders;
}

// mattrib -/: path -> attribute letters (A, R, S, H).
std::map<std::string, std::string> Mattrib(const std::string& image) {
  std::string out;
  EXPECT_EQ(ts::RunFatTool("mattrib -/ -i " + ts::ShellQuote(image) + " ::/", &out), 0) << out;
  std::map<std::string, std::string> attrs;
  std::istringstream in(out);
  std::string text;
  while (std::getline(in, text)) {
    const size_t at = text.find("::/");
    if (at == std::string::npos || at + 3 == text.size()) continue;  // the root itself
    std::string letters;
    for (char c : text.substr(0, at))
      if (c != ' ') letters += c;
    attrs[text.substr(at + 3)] = letters;
  }
  return attrs;
}

std::string Stamp(const FILETIME& ft) {
  const uint64_t t = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  const time_t unixTime = static_cast<time_t>(t / 10000000ull) - 11644473600LL;
  std::tm tm{};
  gmtime_r(&unixTime, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

class FatDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
  }
  void TearDown() override {
    platform::UnregisterFileSystemDriver("FAT");
    platform::ResetPlatform();
  }
  static void MapImage(const std::string& path, std::vector<std::string> busy = {}) {
    platform::SetDriveMap({platform::DriveEntry{'c', path, std::move(busy)}});
  }
  static std::shared_ptr<platform::MemoryDevice> MapBytes(std::vector<uint8_t> bytes) {
    auto mem = std::make_shared<platform::MemoryDevice>(std::move(bytes));
    platform::MapMemoryDrive('c', mem);
    return mem;
  }
};

class FatDriverOnVolumes : public FatDriverTest, public ::testing::WithParamInterface<Fixture> {};

INSTANTIATE_TEST_SUITE_P(Fixtures, FatDriverOnVolumes,
                         ::testing::Values(Fixture::kFat12, Fixture::kFat16,
                                           Fixture::kFat16DefaultReserved),
                         [](const auto& info) { return FixtureName(info.param); });

TEST_P(FatDriverOnVolumes, EveryFileReadsAsMtoolsReadsIt) {
  const ts::FatVolume& vol = Volume(GetParam());
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path());
  int files = 0;
  for (const auto& e : vol.Entries()) {
    if (e.folder || e.erased) continue;
    const std::vector<uint8_t> expected = vol.Read(e.path);
    ASSERT_EQ(expected, ts::PatternBytes(e.size, e.seed)) << "mtools read-back of " << e.path;
    EXPECT_EQ(ReadThroughDriver(WinPath(e.path)), expected) << e.path;
    ++files;
  }
  EXPECT_GT(files, 3);
}

TEST_P(FatDriverOnVolumes, ListingsAgreeWithMdirAndMattrib) {
  const ts::FatVolume& vol = Volume(GetParam());
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path());
  const std::vector<Listed> listed = ListTree();
  const auto mdir = Mdir(vol.Path());
  const auto mattrib = Mattrib(vol.Path());

  std::map<std::string, std::vector<MdirEntry>> ours;
  std::set<std::string> paths;
  for (const Listed& l : listed) {
    const size_t cut = l.path.rfind('/');
    MdirEntry e;
    e.name = l.data.cFileName;
    e.shortName = l.data.cAlternateFileName;
    e.folder = (l.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.size = (uint64_t{l.data.nFileSizeHigh} << 32) | l.data.nFileSizeLow;
    e.stamp = Stamp(l.data.ftLastWriteTime);
    ours[cut == std::string::npos ? "" : l.path.substr(0, cut)].push_back(e);
    paths.insert(l.path);

    // Attributes as mattrib shows them.
    auto a = mattrib.find(l.path);
    ASSERT_NE(a, mattrib.end()) << l.path << " is not on the volume";
    const DWORD attrs = l.data.dwFileAttributes;
    EXPECT_EQ(a->second.find('A') != std::string::npos, (attrs & FILE_ATTRIBUTE_ARCHIVE) != 0)
        << l.path;
    EXPECT_EQ(a->second.find('R') != std::string::npos, (attrs & FILE_ATTRIBUTE_READONLY) != 0)
        << l.path;
    EXPECT_EQ(a->second.find('S') != std::string::npos, (attrs & FILE_ATTRIBUTE_SYSTEM) != 0)
        << l.path;
    EXPECT_EQ(a->second.find('H') != std::string::npos, (attrs & FILE_ATTRIBUTE_HIDDEN) != 0)
        << l.path;
    EXPECT_EQ(GetFileAttributesA(WinPath(l.path)), attrs) << l.path;
  }
  EXPECT_EQ(paths.size(), mattrib.size()) << "every file and folder listed once";

  ASSERT_EQ(ours.size(), mdir.size());
  for (const auto& [folder, entries] : mdir) {
    auto it = ours.find(folder);
    ASSERT_NE(it, ours.end()) << folder;
    ASSERT_EQ(it->second.size(), entries.size()) << folder;
    for (size_t i = 0; i < entries.size(); ++i) {
      const MdirEntry& want = entries[i];
      const MdirEntry& got = it->second[i];
      EXPECT_EQ(got.name, want.name) << folder;
      EXPECT_EQ(got.shortName, want.shortName) << want.name;
      EXPECT_EQ(got.folder, want.folder) << want.name;
      EXPECT_EQ(got.size, want.size) << want.name;
      EXPECT_EQ(got.stamp, want.stamp) << want.name;
    }
  }
  // The standard volumes show their special files as they were made.
  for (const auto& e : vol.Entries()) {
    if (e.erased) {
      EXPECT_EQ(GetFileAttributesA(WinPath(e.path)), INVALID_FILE_ATTRIBUTES) << e.path;
      EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    } else if (e.system || e.hidden) {
      const DWORD attrs = GetFileAttributesA(WinPath(e.path));
      EXPECT_EQ((attrs & FILE_ATTRIBUTE_SYSTEM) != 0, e.system) << e.path;
      EXPECT_EQ((attrs & FILE_ATTRIBUTE_HIDDEN) != 0, e.hidden) << e.path;
    }
  }
}

// The volume bitmap as the program requests it, checked bit by bit
// against the FAT read by plain code.
TEST_P(FatDriverOnVolumes, VolumeBitmapAgreesWithTheFat) {
  const ts::FatVolume& vol = Volume(GetParam());
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path());
  const std::vector<uint8_t> image = ts::ReadImageFile(vol.Path());
  const ts::PlainFatLayout layout = ts::ParseFatLayout(image);
  ASSERT_GT(layout.clusters, 0u);
  if (GetParam() == Fixture::kFat16DefaultReserved) {
    EXPECT_GT(layout.reservedSectors, 1u);
  }

  HANDLE v = CreateFileA("\\\\.\\c:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  const size_t bytes = (layout.clusters + 7) / 8;
  std::vector<uint8_t> out(16 + bytes + 5, 0xEE);
  int64_t start = 0;
  IO_STATUS_BLOCK io;
  ASSERT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                            out.data(), static_cast<DWORD>(out.size())),
            STATUS_SUCCESS);
  EXPECT_EQ(io.Information, 16 + bytes);
  EXPECT_EQ(Le(out, 0, 8), 0u);
  EXPECT_EQ(Le(out, 8, 8), layout.clusters) << "bitmap size in clusters";
  uint32_t allocated = 0;
  for (uint32_t lcn = 0; lcn < layout.clusters; ++lcn) {
    const bool bit = (out[16 + lcn / 8] >> (lcn % 8)) & 1;
    const bool used = ts::PlainFatEntry(image, lcn + 2) != 0;
    ASSERT_EQ(bit, used) << "LCN " << lcn << " is cluster " << lcn + 2;
    allocated += used;
  }
  for (uint32_t bit = layout.clusters; bit < bytes * 8; ++bit)
    EXPECT_EQ((out[16 + bit / 8] >> (bit % 8)) & 1, 0) << "no bits past the last cluster";
  EXPECT_EQ(out[16 + bytes], 0xEE) << "nothing written past the bitmap";
  EXPECT_GT(allocated, 20u);
  for (uint32_t c :
       vol.ShowFat(GetParam() == Fixture::kFat16DefaultReserved ? "DATA/SPLIT.BIN" : "FRAG.BIN"))
    EXPECT_TRUE((out[16 + (c - 2) / 8] >> ((c - 2) % 8)) & 1) << "cluster " << c;

  // The program's first request learns the size from an 8-byte bitmap.
  std::vector<uint8_t> small(24);
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                            small.data(), 24),
            STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(io.Information, 24u);
  EXPECT_EQ(Le(small, 8, 8), layout.clusters);
  EXPECT_TRUE(std::equal(small.begin() + 16, small.end(), out.begin() + 16));

  // Continuation in pieces of 5 bytes rebuilds the whole bitmap.
  std::vector<uint8_t> pieces;
  int64_t next = 0;
  for (;;) {
    std::vector<uint8_t> part(16 + 5);
    const NTSTATUS s = NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &next,
                                       8, part.data(), static_cast<DWORD>(part.size()));
    ASSERT_TRUE(s == STATUS_SUCCESS || s == STATUS_BUFFER_OVERFLOW) << std::hex << s;
    EXPECT_EQ(Le(part, 0, 8), static_cast<uint64_t>(next));
    EXPECT_EQ(Le(part, 8, 8), layout.clusters - static_cast<uint64_t>(next));
    pieces.insert(pieces.end(), part.begin() + 16,
                  part.begin() + static_cast<long>(io.Information));
    if (s == STATUS_SUCCESS) break;
    next += 40;
  }
  EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), out.begin() + 16, out.begin() + 16 + bytes));
  EXPECT_EQ(pieces.size(), bytes);

  // A starting LCN inside a byte is rounded down to the byte's first LCN.
  start = 13;
  std::vector<uint8_t> from13(16 + bytes);
  ASSERT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                            from13.data(), static_cast<DWORD>(from13.size())),
            STATUS_SUCCESS);
  EXPECT_EQ(Le(from13, 0, 8), 8u);
  EXPECT_EQ(Le(from13, 8, 8), layout.clusters - 8);
  EXPECT_EQ(from13[16], out[17]);

  // Requests NT refuses.
  start = layout.clusters;
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                            out.data(), static_cast<DWORD>(out.size())),
            STATUS_INVALID_PARAMETER);
  start = -8;
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                            out.data(), static_cast<DWORD>(out.size())),
            STATUS_INVALID_PARAMETER);
  start = 0;
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 4,
                            out.data(), static_cast<DWORD>(out.size())),
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_GET_VOLUME_BITMAP, &start, 8,
                            out.data(), 8),
            STATUS_BUFFER_TOO_SMALL);
  CloseHandle(v);
}

// The extents of a file as RETRIEVAL_POINTERS_BUFFER replies give them,
// expanded to one cluster number per VCN.
struct Pointers {
  NTSTATUS status = 0;
  uint64_t startingVcn = 0;
  std::vector<uint32_t> clusters;  // cluster numbers (LCN + 2) from startingVcn on
  uint32_t extents = 0;
  uint64_t nextVcn = 0;
};

Pointers GetPointers(HANDLE h, int64_t vcn, DWORD outSize = 8208) {
  Pointers p;
  std::vector<uint8_t> out(outSize);
  IO_STATUS_BLOCK io;
  p.status = NtFsControlFile(h, 0, nullptr, nullptr, &io, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8,
                             out.data(), outSize);
  if (p.status != STATUS_SUCCESS && p.status != STATUS_BUFFER_OVERFLOW) return p;
  p.extents = static_cast<uint32_t>(Le(out, 0, 4));
  EXPECT_EQ(io.Information, 16u + 16u * p.extents);
  p.startingVcn = Le(out, 8, 8);
  uint64_t at = p.startingVcn;
  for (uint32_t k = 0; k < p.extents; ++k) {
    const uint64_t next = Le(out, 16 + 16 * k, 8), lcn = Le(out, 24 + 16 * k, 8);
    EXPECT_GT(next, at);
    for (uint64_t v = at; v < next; ++v)
      p.clusters.push_back(static_cast<uint32_t>(lcn + 2 + v - at));
    at = next;
  }
  p.nextVcn = at;
  return p;
}

TEST_P(FatDriverOnVolumes, RetrievalPointersAgreeWithMshowfat) {
  const ts::FatVolume& vol = Volume(GetParam());
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path());
  const std::string frag =
      GetParam() == Fixture::kFat16DefaultReserved ? "DATA/SPLIT.BIN" : "FRAG.BIN";
  const std::vector<uint32_t> clusters = vol.ShowFat(frag);
  const auto runs = ts::Runs(clusters);
  ASSERT_GE(runs.size(), 4u) << "the fixture file is fragmented";

  HANDLE f = OpenFile(WinPath(frag), 0);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
  Pointers all = GetPointers(f, 0);
  EXPECT_EQ(all.status, STATUS_SUCCESS);
  EXPECT_EQ(all.startingVcn, 0u);
  EXPECT_EQ(all.extents, runs.size()) << "one extent per run of contiguous clusters";
  EXPECT_EQ(all.clusters, clusters);

  // Two extents per reply: overflow, then continue from the last NextVcn.
  std::vector<uint32_t> joined;
  int64_t vcn = 0;
  int replies = 0;
  for (;;) {
    Pointers p = GetPointers(f, vcn, 16 + 2 * 16);
    ASSERT_TRUE(p.status == STATUS_SUCCESS || p.status == STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(p.startingVcn, static_cast<uint64_t>(vcn));
    joined.insert(joined.end(), p.clusters.begin(), p.clusters.end());
    ++replies;
    if (p.status == STATUS_SUCCESS) break;
    EXPECT_EQ(p.extents, 2u);
    vcn = static_cast<int64_t>(p.nextVcn);
  }
  EXPECT_EQ(joined, clusters);
  EXPECT_EQ(replies, static_cast<int>((runs.size() + 1) / 2));

  // From a VCN inside the file: its extents from there on.
  const int64_t middle = static_cast<int64_t>(runs[0].second + 1);
  Pointers tail = GetPointers(f, middle);
  EXPECT_EQ(tail.status, STATUS_SUCCESS);
  EXPECT_EQ(tail.startingVcn, static_cast<uint64_t>(middle));
  EXPECT_EQ(tail.clusters, std::vector<uint32_t>(clusters.begin() + middle, clusters.end()));

  EXPECT_EQ(GetPointers(f, static_cast<int64_t>(clusters.size())).status, STATUS_END_OF_FILE);
  EXPECT_EQ(GetPointers(f, 0, 16).status, STATUS_BUFFER_TOO_SMALL);
  CloseHandle(f);

  // Requests on the volume handle name no file.
  HANDLE v = CreateFileA("\\\\.\\c:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  EXPECT_EQ(GetPointers(v, 0).status, STATUS_INVALID_PARAMETER);
  CloseHandle(v);
}

TEST_F(FatDriverTest, RetrievalPointersOfFoldersEmptyFilesAndTheRoot) {
  const ts::FatVolume& vol = Volume(Fixture::kFat12);
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path());
  // MANY grew behind FRAG.BIN: a fragmented folder.
  const std::vector<uint32_t> many = vol.ShowFat("MANY");
  ASSERT_GE(ts::Runs(many).size(), 2u);
  HANDLE d = OpenFolder("c:\\many");
  ASSERT_NE(d, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(GetPointers(d, 0).clusters, many);
  CloseHandle(d);

  HANDLE e = OpenFile("c:\\EMPTY.TXT", 0);
  ASSERT_NE(e, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetPointers(e, 0).status, STATUS_END_OF_FILE);
  CloseHandle(e);

  HANDLE root = OpenFolder("c:\\");
  ASSERT_NE(root, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetPointers(root, 0).status, STATUS_INVALID_PARAMETER) << "the root has no clusters";
  char buf[16];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(root, buf, 16, &n, nullptr)) << "a folder is not read as a file";
  CloseHandle(root);
}

TEST_F(FatDriverTest, OtherControlRequestsAreRefused) {
  const ts::FatVolume& vol = Volume(Fixture::kFat12);
  MapImage(vol.Path());
  HANDLE v =
      CreateFileA("\\\\.\\c:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, 0);
  HANDLE f = OpenFile("c:\\FRAG.BIN", 3);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  uint8_t move[32] = {};
  std::memcpy(move, &f, 4);
  move[16] = 200;  // target cluster
  move[24] = 1;
  IO_STATUS_BLOCK io;
  const std::vector<uint8_t> before = ts::ReadImageFile(vol.Path());
  EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, FSCTL_MOVE_FILE, move, 32, nullptr, 0),
            STATUS_INVALID_DEVICE_REQUEST);
  uint8_t out[512];
  uint64_t zero = 0;
  for (DWORD code : {FSCTL_GET_NTFS_VOLUME_DATA, FSCTL_GET_NTFS_FILE_RECORD, 0x90000u})
    EXPECT_EQ(NtFsControlFile(v, 0, nullptr, nullptr, &io, code, &zero, 8, out, sizeof out),
              STATUS_INVALID_DEVICE_REQUEST)
        << std::hex << code;
  EXPECT_EQ(ts::ReadImageFile(vol.Path()), before) << "nothing written";
  CloseHandle(f);
  CloseHandle(v);
}

TEST_F(FatDriverTest, NamesMatchWithoutCaseByLongAndShortName) {
  const ts::FatVolume& vol = Volume(Fixture::kFat16);
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path());
  const std::string path = "DOCS/Old Letters/Letter to a friend.txt";
  const std::vector<uint8_t> expected = ts::PatternBytes(1500, 2);
  EXPECT_EQ(ReadThroughDriver("C:\\docs\\OLD LETTERS\\LETTER TO A FRIEND.TXT"), expected);

  // The 8.3 names the listing reports lead to the same file.
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("c:\\DOCS\\old*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string folderShort = fd.cAlternateFileName;
  FindClose(h);
  h = FindFirstFileA("c:\\DOCS\\Old Letters\\*.txt", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string fileShort = fd.cAlternateFileName;
  FindClose(h);
  ASSERT_FALSE(folderShort.empty());
  ASSERT_FALSE(fileShort.empty());
  EXPECT_EQ(ReadThroughDriver("c:\\docs\\" + folderShort + "\\" + fileShort), expected);

  // Reading from a position through SetFilePointer.
  HANDLE f = OpenFile(WinPath(path));
  ASSERT_NE(SetFilePointer(f, 700, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  std::vector<uint8_t> part(2000);
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(f, part.data(), 2000, &n, nullptr));
  EXPECT_EQ(n, 800u) << "up to the end of the file";
  EXPECT_TRUE(std::equal(part.begin(), part.begin() + n, expected.begin() + 700));
  EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_END), 1500u);
  CloseHandle(f);

  EXPECT_EQ(OpenFile("c:\\DOCS\\nothing.txt"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenFile("c:\\NODIR\\REPORT.TXT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(OpenFile("c:\\IO.SYS\\REPORT.TXT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << "a file is no folder";
  EXPECT_EQ(GetFileAttributesA("c:\\Docs"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("c:\\"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FatDriverTest, BusyFilesRefuseAnExclusiveOpenButStayListed) {
  const ts::FatVolume& vol = Volume(Fixture::kFat16);
  ASSERT_FALSE(ts::FatFixtureFailed());
  MapImage(vol.Path(), {"pagefile.sys"});
  EXPECT_EQ(OpenFile("c:\\PAGEFILE.SYS", 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFileAttributesA("c:\\pagefile.sys"), FILE_ATTRIBUTE_ARCHIVE);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("c:\\page*.*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(fd.cFileName, "pagefile.sys");
  EXPECT_EQ(fd.nFileSizeLow, 65536u);
  FindClose(h);
  // Other files of the volume open exclusively.
  HANDLE other = OpenFile("c:\\IO.SYS", 0);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
  // And the volume is in use.
  EXPECT_EQ(CreateFileA("\\\\.\\c:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0),
            INVALID_HANDLE_VALUE);
}

// A device that fails every read touching a byte range.
class FailingRange : public platform::ForwardingDevice {
 public:
  FailingRange(std::shared_ptr<platform::BlockDevice> inner, uint64_t from, uint64_t to)
      : ForwardingDevice(std::move(inner)), from_(from), to_(to) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (offset < to_ && offset + size > from_) return false;
    return inner_->Read(offset, buffer, size);
  }

 private:
  uint64_t from_, to_;
};

class FatDamage : public FatDriverTest {
 protected:
  void SetUp() override {
    FatDriverTest::SetUp();
    const ts::FatVolume& vol = Volume(Fixture::kFat16);
    ASSERT_FALSE(ts::FatFixtureFailed());
    vol_ = &vol;
    image_ = ts::ReadImageFile(vol.Path());
    layout_ = ts::ParseFatLayout(image_);
  }
  // Byte offset of a cluster.
  size_t ClusterAt(uint32_t cluster) const {
    return (layout_.firstDataSector + size_t{cluster - 2} * layout_.sectorsPerCluster) * 512;
  }
  // Offset of the 8.3 slot named `name11` in the folder starting at `at`.
  size_t SlotIn(size_t at, size_t bytes, const std::string& name11) const {
    for (size_t s = at; s + 32 <= at + bytes; s += 32)
      if (std::equal(name11.begin(), name11.end(), image_.begin() + static_cast<long>(s))) return s;
    ADD_FAILURE() << name11 << " not found";
    return 0;
  }
  size_t RootSlot(const std::string& name11) const {
    return SlotIn(size_t{layout_.rootDirSector} * 512, layout_.rootEntries * 32u, name11);
  }
  void SetFirstCluster(size_t slot, uint16_t cluster) {
    image_[slot + 0x1A] = static_cast<uint8_t>(cluster);
    image_[slot + 0x1B] = static_cast<uint8_t>(cluster >> 8);
  }
  // Reading the file ends in `error`, never in a crash or a hang.
  // With `chainBroken` the retrieval pointers fail as well.
  void ExpectReadFails(const std::string& path, DWORD error, bool chainBroken = true) {
    HANDLE f = OpenFile(path);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "the entry itself is sound";
    std::vector<uint8_t> buf(100000);
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(f, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) << path;
    EXPECT_EQ(GetLastError(), error) << path;
    EXPECT_EQ(n, 0u);
    IO_STATUS_BLOCK io;
    int64_t vcn = 0;
    std::vector<uint8_t> out(8208);
    const NTSTATUS s = NtFsControlFile(f, 0, nullptr, nullptr, &io, FSCTL_GET_RETRIEVAL_POINTERS,
                                       &vcn, 8, out.data(), 8208);
    if (chainBroken)
      EXPECT_EQ(s, STATUS_DISK_CORRUPT_ERROR) << "retrieval pointers fail too";
    else
      EXPECT_EQ(s, STATUS_SUCCESS) << "the chain itself is sound";
    CloseHandle(f);
  }
  const ts::FatVolume* vol_ = nullptr;
  std::vector<uint8_t> image_;
  ts::PlainFatLayout layout_;
};

constexpr DWORD kDiskCorrupt = 1393;  // ERROR_DISK_CORRUPT

TEST_F(FatDamage, AChainIntoAFreeClusterIsAnError) {
  const auto chain = vol_->ShowFat("GAMES/LEVELS/L1.DAT");
  ASSERT_GE(chain.size(), 3u);
  ts::PatchFatEntry(image_, chain[1], 0);
  MapBytes(image_);
  ExpectReadFails("c:\\GAMES\\LEVELS\\L1.DAT", kDiskCorrupt);
  EXPECT_EQ(ReadThroughDriver("c:\\DOCS\\REPORT.TXT"), ts::PatternBytes(3000, 1))
      << "the rest of the volume reads";
}

TEST_F(FatDamage, AChainLoopIsAnError) {
  const auto chain = vol_->ShowFat("GAMES/LEVELS/L1.DAT");
  ts::PatchFatEntry(image_, chain.back(), chain.front());
  MapBytes(image_);
  ExpectReadFails("c:\\GAMES\\LEVELS\\L1.DAT", kDiskCorrupt);
}

TEST_F(FatDamage, ClusterNumbersPastTheVolumeAreErrors) {
  const auto chain = vol_->ShowFat("GAMES/LEVELS/L1.DAT");
  ts::PatchFatEntry(image_, chain[2], layout_.clusters + 2);  // one past the last cluster
  const size_t slot = RootSlot("IO      SYS");
  SetFirstCluster(slot, static_cast<uint16_t>(layout_.clusters + 5));
  MapBytes(image_);
  ExpectReadFails("c:\\GAMES\\LEVELS\\L1.DAT", kDiskCorrupt);
  ExpectReadFails("c:\\IO.SYS", kDiskCorrupt);
}

TEST_F(FatDamage, AChainShorterThanTheFileIsAnError) {
  const auto chain = vol_->ShowFat("GAMES/LEVELS/L1.DAT");
  ts::PatchFatEntry(image_, chain[1], 0xFFFF);  // ends after two clusters
  MapBytes(image_);
  ExpectReadFails("c:\\GAMES\\LEVELS\\L1.DAT", kDiskCorrupt);
}

TEST_F(FatDamage, AFolderLeadingBackToAnAncestorIsAnError) {
  const uint32_t levels = vol_->ShowFat("GAMES/LEVELS").at(0);
  const uint32_t bonus = vol_->ShowFat("GAMES/LEVELS/BONUS").at(0);
  const size_t slot = SlotIn(ClusterAt(levels), 512, "BONUS      ");
  ASSERT_NE(slot, 0u);
  SetFirstCluster(slot, static_cast<uint16_t>(levels));  // BONUS is LEVELS again
  ASSERT_NE(bonus, levels);
  // And GAMES's first cluster 0 makes it the root.
  SetFirstCluster(RootSlot("GAMES      "), 0);
  MapBytes(image_);
  WIN32_FIND_DATAA fd;
  EXPECT_EQ(FindFirstFileA("c:\\GAMES\\*.*", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), kDiskCorrupt);

  // Only BONUS damaged: its parent still lists, BONUS itself does not.
  image_ = ts::ReadImageFile(vol_->Path());
  SetFirstCluster(slot, static_cast<uint16_t>(levels));
  MapBytes(image_);
  HANDLE h = FindFirstFileA("c:\\GAMES\\LEVELS\\*.*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_EQ(FindFirstFileA("c:\\GAMES\\LEVELS\\BONUS\\*.*", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), kDiskCorrupt);
  EXPECT_EQ(OpenFile("c:\\GAMES\\LEVELS\\BONUS\\LEVELS\\BONUS\\SECRET.DAT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), kDiskCorrupt);
}

TEST_F(FatDamage, AFolderChainLoopIsAnError) {
  const auto many = vol_->ShowFat("MANY");
  ASSERT_GE(many.size(), 2u);
  ts::PatchFatEntry(image_, many.back(), many.front());
  MapBytes(image_);
  WIN32_FIND_DATAA fd;
  EXPECT_EQ(FindFirstFileA("c:\\MANY\\*.*", &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), kDiskCorrupt);
  EXPECT_EQ(OpenFile("c:\\MANY\\F10.TXT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), kDiskCorrupt);
  HANDLE h = FindFirstFileA("c:\\*.*", &fd);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the root still lists";
  FindClose(h);
}

TEST_F(FatDamage, AFailedReadIsADeviceError) {
  const auto chain = vol_->ShowFat("GAMES/LEVELS/L1.DAT");
  const uint64_t at = ClusterAt(chain[3]);
  MapBytes(image_);
  platform::SetDeviceWrapper('c', [at](std::shared_ptr<platform::BlockDevice> d) {
    return std::make_shared<FailingRange>(d, at, at + 1);
  });
  ExpectReadFails("c:\\GAMES\\LEVELS\\L1.DAT", 23, false);  // ERROR_CRC
  // The clusters before the failed one still read.
  HANDLE f = OpenFile("c:\\GAMES\\LEVELS\\L1.DAT");
  std::vector<uint8_t> buf(1024);
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(f, buf.data(), 1024, &n, nullptr));
  const std::vector<uint8_t> expected = ts::PatternBytes(6000, 4);
  EXPECT_EQ(n, 1024u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + n, expected.begin()));
  CloseHandle(f);
}

TEST_F(FatDamage, GarbageInTheFatAndFoldersNeverCrashes) {
  // Random bytes over the FAT and the root folder: every call answers.
  std::vector<uint8_t> noise = ts::PatternBytes(static_cast<uint32_t>(image_.size()), 77);
  const size_t fatStart = size_t{layout_.reservedSectors} * 512;
  const size_t dataStart = size_t{layout_.firstDataSector} * 512;
  for (size_t i = fatStart; i < dataStart; ++i) image_[i] = noise[i];
  MapBytes(image_);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("c:\\*.*", &fd);
  std::vector<std::string> names;
  if (h != INVALID_HANDLE_VALUE) {
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  for (const std::string& name : names) {
    HANDLE f = OpenFile("c:\\" + name);
    if (f == INVALID_HANDLE_VALUE) continue;
    std::vector<uint8_t> buf(65536);
    DWORD n = 0;
    ReadFile(f, buf.data(), 65536, &n, nullptr);
    CloseHandle(f);
    h = FindFirstFileA("c:\\" + name + "\\*.*", &fd);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
  SUCCEED() << names.size() << " names decoded from noise";
}

// Seeded random damage to the FAT, the root and the first clusters of the
// folders: walking the whole tree, reading every file and asking for its
// extents answers with data or an error status, and always returns.
TEST_F(FatDamage, RandomDamageEndsInStatusesNeverInACrashOrHang) {
  const std::vector<uint8_t> pristine = image_;
  std::vector<std::pair<size_t, size_t>> ranges = {
      {size_t{layout_.reservedSectors} * 512, size_t{layout_.firstDataSector} * 512}};
  for (const char* folder : {"DOCS", "GAMES", "GAMES/LEVELS", "MANY"}) {
    const size_t at = ClusterAt(vol_->ShowFat(folder).at(0));
    ranges.emplace_back(at, at + 512);
  }
  std::mt19937 random(1234);
  int opened = 0, failed = 0;
  for (int round = 0; round < 40; ++round) {
    image_ = pristine;
    for (int k = 0; k < 24; ++k) {
      const auto& [from, to] = ranges[random() % ranges.size()];
      image_[from + random() % (to - from)] = static_cast<uint8_t>(random());
    }
    MapBytes(image_);
    std::vector<std::string> pending = {""};
    int listings = 0;
    while (!pending.empty() && listings < 200) {
      const std::string folder = pending.back();
      pending.pop_back();
      ++listings;
      WIN32_FIND_DATAA fd;
      HANDLE h = FindFirstFileA(WinPath(folder.empty() ? "*.*" : folder + "/*.*"), &fd);
      if (h == INVALID_HANDLE_VALUE) {
        EXPECT_NE(GetLastError(), ERROR_SUCCESS);
        continue;
      }
      do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder.empty() ? name : folder + "/" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (path.size() < 120) pending.push_back(path);
          continue;
        }
        HANDLE f = OpenFile(WinPath(path), 3);
        if (f == INVALID_HANDLE_VALUE) continue;
        ++opened;
        std::vector<uint8_t> buf(1 << 16);
        DWORD n = 0;
        if (!ReadFile(f, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) ++failed;
        GetPointers(f, 0);
        CloseHandle(f);
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
  }
  EXPECT_GT(opened, 100) << "most of the volume still reads";
  EXPECT_GT(failed, 0) << "and some damage was met";
}

// The driver drops what it read when told that the volume changed.
TEST(FatDriverCache, InvalidateMakesTheDriverReReadFatAndFolders) {
  const ts::FatVolume& vol = Volume(Fixture::kFat12);
  ASSERT_FALSE(ts::FatFixtureFailed());
  auto mem = std::make_shared<platform::MemoryDevice>(ts::ReadImageFile(vol.Path()));
  platform::DriverContext context;
  context.letter = 'c';
  context.fileSystem = "FAT";
  context.device = mem;
  std::string error;
  auto driver = platform::fat::FatDriver::Create(context, error);
  ASSERT_NE(driver, nullptr) << error;

  std::vector<platform::FsEntry> entries;
  ASSERT_EQ(driver->List("", entries), STATUS_SUCCESS);
  std::unique_ptr<platform::DriverFile> file;
  ASSERT_EQ(driver->Open("DOCS\\REPORT.TXT", file), STATUS_SUCCESS);
  EXPECT_EQ(file->Entry().size, 3000u);

  // Another writer: REPORT.TXT shrinks to 10 bytes, IO.SYS is renamed,
  // and a free cluster is taken.
  std::vector<uint8_t>& bytes = mem->Bytes();
  const ts::PlainFatLayout layout = ts::ParseFatLayout(bytes);
  const uint32_t docs = vol.ShowFat("DOCS").at(0);
  const size_t docsAt =
      (layout.firstDataSector + size_t{docs - 2} * layout.sectorsPerCluster) * 512;
  size_t report = 0;
  for (size_t s = docsAt; s < docsAt + 512; s += 32)
    if (std::memcmp(&bytes[s], "REPORT  TXT", 11) == 0) report = s;
  ASSERT_NE(report, 0u);
  bytes[report + 0x1C] = 10;
  bytes[report + 0x1D] = 0;
  const size_t rootAt = size_t{layout.rootDirSector} * 512;
  for (size_t s = rootAt; s < rootAt + layout.rootEntries * 32u; s += 32)
    if (std::memcmp(&bytes[s], "IO      SYS", 11) == 0) std::memcpy(&bytes[s], "IONEW   SYS", 11);
  uint32_t freeCluster = 2;
  while (ts::PlainFatEntry(bytes, freeCluster) != 0) ++freeCluster;
  ts::PatchFatEntry(bytes, freeCluster, 0xFFF);

  auto bitmapBit = [&](uint32_t cluster) {
    int64_t start = 0;
    std::vector<uint8_t> out(16 + (layout.clusters + 7) / 8);
    platform::FsControlRequest r;
    r.code = FSCTL_GET_VOLUME_BITMAP;
    r.in = &start;
    r.inSize = 8;
    r.out = out.data();
    r.outSize = static_cast<DWORD>(out.size());
    EXPECT_EQ(driver->FsControl(r).status, STATUS_SUCCESS);
    return (out[16 + (cluster - 2) / 8] >> ((cluster - 2) % 8)) & 1;
  };
  EXPECT_EQ(bitmapBit(freeCluster), 0) << "the cached FAT is still in use";
  std::unique_ptr<platform::DriverFile> io;
  EXPECT_EQ(driver->Open("IONEW.SYS", io), platform::STATUS_OBJECT_NAME_NOT_FOUND)
      << "the cached root is still in use";

  driver->Invalidate();
  EXPECT_EQ(bitmapBit(freeCluster), 1);
  EXPECT_EQ(driver->Open("IONEW.SYS", io), STATUS_SUCCESS);
  EXPECT_EQ(driver->Open("IO.SYS", io), platform::STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(file->Entry().size, 10u) << "an open file finds its entry again";
  uint8_t buf[64];
  uint32_t n = 0;
  EXPECT_EQ(file->Read(0, buf, 64, n), STATUS_SUCCESS);
  EXPECT_EQ(n, 10u);
  const std::vector<uint8_t> expected = ts::PatternBytes(3000, 1);
  EXPECT_TRUE(std::equal(buf, buf + 10, expected.begin()));
}

TEST(FatDriverCreate, RefusesVolumesThatAreNotFat12OrFat16) {
  std::string error;
  const std::string img = ts::TempPath("notfat.img");
  ASSERT_TRUE(ts::MakeFatImageDefaultReserved(img, 40000, 32, "", "", error)) << error;
  platform::DriverContext context;
  context.fileSystem = "FAT";
  context.device = std::make_shared<platform::MemoryDevice>(ts::ReadFileBytes(img));
  EXPECT_EQ(platform::fat::FatDriver::Create(context, error), nullptr);
  EXPECT_NE(error.find("FAT32"), std::string::npos) << error;
  context.device = std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(4096, 0));
  error.clear();
  EXPECT_EQ(platform::fat::FatDriver::Create(context, error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
