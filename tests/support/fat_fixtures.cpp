#include "support/fat_fixtures.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// 2000-01-01 00:00:00 UTC: every directory entry mtools writes gets this date.
constexpr const char* kToolEnv = "MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=946684800 ";
constexpr const char* kVolumeId = "56524655";

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// mtools' name of a path on the image.
std::string OnImage(const std::string& path) { return Quote("::/" + path); }

std::string HostTemp(const std::string& what) {
  static int counter = 0;
  return FatFixtureDir() + "/" + what + "-" + std::to_string(getpid()) + "-" +
         std::to_string(++counter) + ".tmp";
}

bool g_failed = false;

void Fail(const std::string& text) {
  g_failed = true;
  if (::testing::UnitTest::GetInstance()->current_test_info() != nullptr)
    ADD_FAILURE() << text;
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

void MustRun(const std::string& command) {
  std::string output;
  const int status = RunFatTool(command, &output);
  if (status != 0)
    Fail("command failed (" + std::to_string(status) + "): " + command + "\n" + output);
}

uint32_t Le(const std::vector<uint8_t>& b, size_t offset, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) {
    const size_t at = offset + static_cast<size_t>(i);
    v = (v << 8) | (at < b.size() ? b[at] : 0u);
  }
  return v;
}

}  // namespace

bool FatFixtureFailed() { return g_failed; }

std::string FatFixtureDir() {
  const char* env = std::getenv("VODURU_TEST_TMP");
  const std::string base = (env != nullptr && *env != '\0') ? env : "/tmp";
  const std::string dir = base + "/voduru-fat";
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

std::string FatImagePath(const std::string& name) {
  return FatFixtureDir() + "/" + name + "-" + std::to_string(getpid()) + ".img";
}

int RunFatTool(const std::string& command, std::string* output) {
  const std::string full = std::string(kToolEnv) + command + " 2>&1 </dev/null";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> PatternBytes(uint32_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint64_t x = 0x9E3779B97F4A7C15ull * (static_cast<uint64_t>(seed) + 1);
  for (uint32_t i = 0; i < size; ++i) {
    // splitmix64, one byte per step
    x += 0x9E3779B97F4A7C15ull;
    uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    bytes[i] = static_cast<uint8_t>(z ^ (z >> 31));
  }
  return bytes;
}

FatVolume::FatVolume(std::string path, const FatFormat& format)
    : path_(std::move(path)), format_(format) {
  std::error_code ec;
  fs::remove(path_, ec);
  { std::ofstream create(path_, std::ios::binary); }
  fs::resize_file(path_, static_cast<uintmax_t>(format.sectors) * 512u, ec);
  if (ec) Fail("cannot create " + path_ + ": " + ec.message());

  std::string cmd = "mkfs.fat -F " + std::to_string(format.fatBits);
  if (format.sectorsPerCluster > 0) cmd += " -s " + std::to_string(format.sectorsPerCluster);
  if (format.reservedSectors > 0) cmd += " -R " + std::to_string(format.reservedSectors) + " -a";
  if (format.fatBits != 32) cmd += " -r " + std::to_string(format.rootEntries);
  cmd += " -f " + std::to_string(format.fats);
  if (format.sectorSize != 512) cmd += " -S " + std::to_string(format.sectorSize);
  cmd += " -n " + Quote(format.label) + " -i " + kVolumeId + " --invariant " + Quote(path_);
  MustRun(cmd);
}

const FixtureEntry* FatVolume::Find(const std::string& path) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (it->path == path) return &*it;
  return nullptr;
}

uint32_t FatVolume::ClusterBytes() const {
  const PlainFatLayout layout = ParseFatLayout(ReadImageFile(path_));
  return layout.sectorsPerCluster * 512u;
}

void FatVolume::Mkdir(const std::string& path) {
  MustRun("mmd -i " + Quote(path_) + " " + OnImage(path));
  FixtureEntry e;
  e.path = path;
  e.folder = true;
  entries_.push_back(e);
}

void FatVolume::Write(const std::string& path, uint32_t size, uint32_t seed, bool fragmented) {
  const std::string host = HostTemp("payload");
  WriteImageFile(host, PatternBytes(size, seed));
  MustRun("mcopy -D o -i " + Quote(path_) + " " + Quote(host) + " " + OnImage(path));
  std::error_code ec;
  fs::remove(host, ec);
  FixtureEntry e;
  e.path = path;
  e.size = size;
  e.seed = seed;
  e.fragmented = fragmented;
  entries_.push_back(e);
}

void FatVolume::Delete(const std::string& path) {
  MustRun("mdel -i " + Quote(path_) + " " + OnImage(path));
  for (auto& e : entries_)
    if (e.path == path) e.erased = true;
}

void FatVolume::Attrib(const std::string& path, const std::string& flags) {
  MustRun("mattrib -i " + Quote(path_) + " " + flags + " " + OnImage(path));
  for (auto& e : entries_) {
    if (e.path != path || e.erased) continue;
    if (flags.find("+s") != std::string::npos) e.system = true;
    if (flags.find("+h") != std::string::npos) e.hidden = true;
  }
}

std::vector<uint8_t> FatVolume::Read(const std::string& path) const {
  const std::string host = HostTemp("readback");
  MustRun("mcopy -n -i " + Quote(path_) + " " + OnImage(path) + " " + Quote(host));
  std::vector<uint8_t> bytes = ReadImageFile(host);
  std::error_code ec;
  fs::remove(host, ec);
  return bytes;
}

void FatVolume::WriteFragmented(const std::string& path, uint32_t clusters, uint32_t seed, int gaps,
                                const std::string& prefix) {
  const uint32_t clusterBytes = ClusterBytes();
  auto helper = [&](int k) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%02d.GAP", prefix.c_str(), k);
    return std::string(name);
  };
  // Files 1, 3, 5, ... are deleted again; each leaves a one-cluster gap
  // between two files that stay.
  for (int k = 1; k <= 2 * gaps; ++k) Write(helper(k), clusterBytes, 1000 + seed + k);
  for (int k = 1; k <= 2 * gaps; k += 2) Delete(helper(k));
  Write(path, clusters * clusterBytes, seed, true);
}

std::vector<uint32_t> FatVolume::ShowFat(const std::string& path) const {
  std::string output;
  const int status = RunFatTool("mshowfat -i " + Quote(path_) + " " + OnImage(path), &output);
  if (status != 0) Fail("mshowfat failed for " + path + ": " + output);
  std::vector<uint32_t> clusters;
  size_t pos = 0;
  while ((pos = output.find('<', pos)) != std::string::npos) {
    const size_t end = output.find('>', pos);
    if (end == std::string::npos) break;
    const std::string run = output.substr(pos + 1, end - pos - 1);
    pos = end + 1;
    const size_t dash = run.find('-');
    const uint32_t first = static_cast<uint32_t>(std::stoul(run.substr(0, dash)));
    const uint32_t last =
        dash == std::string::npos ? first : static_cast<uint32_t>(std::stoul(run.substr(dash + 1)));
    for (uint32_t c = first; c <= last; ++c) clusters.push_back(c);
  }
  return clusters;
}

namespace {

// The contents shared by the FAT12 and FAT16 standard fixtures; `scale`
// sizes the bigger files to the volume.
void Populate(FatVolume& v, uint32_t pagefileBytes, uint32_t fragClusters) {
  v.Mkdir("DOCS");
  v.Write("DOCS/REPORT.TXT", 3000, 1);
  v.Mkdir("DOCS/Old Letters");
  v.Write("DOCS/Old Letters/Letter to a friend.txt", 1500, 2);
  v.Mkdir("GAMES");
  v.Mkdir("GAMES/LEVELS");
  v.Mkdir("GAMES/LEVELS/BONUS");
  v.Write("GAMES/LEVELS/BONUS/SECRET.DAT", 10000, 3);
  v.Write("GAMES/LEVELS/L1.DAT", 6000, 4);
  v.Write("EMPTY.TXT", 0, 5);
  v.Write("IO.SYS", 4000, 6);
  v.Attrib("IO.SYS", "+s");
  v.Write("HIDDEN.DAT", 700, 7);
  v.Attrib("HIDDEN.DAT", "+h");
  v.Write("pagefile.sys", pagefileBytes, 8);
  v.Write("TEMP1.TMP", 2000, 9);
  v.Write("A long file name that is erased.txt", 800, 10);
  v.Write("Long name in the root.txt", 900, 13);
  v.Mkdir("MANY");
  for (int k = 0; k < 4; ++k) v.Write("MANY/F" + std::to_string(10 + k) + ".TXT", 100, 20 + k);
  v.WriteFragmented("FRAG.BIN", fragClusters, 11, 5, "G");
  // MANY fills its first cluster and grows behind FRAG.BIN: a fragmented
  // folder.
  for (int k = 4; k < 40; ++k) v.Write("MANY/F" + std::to_string(10 + k) + ".TXT", 100, 20 + k);
  v.Write("LAST.BIN", 5000, 12);
  // Erased last, so that no later file takes their directory slots.
  v.Delete("TEMP1.TMP");
  v.Delete("A long file name that is erased.txt");
}

}  // namespace

FatVolume BuildFat12Fixture(const std::string& path) {
  FatFormat f;
  f.fatBits = 12;
  f.sectors = 2880;
  f.sectorsPerCluster = 1;
  f.rootEntries = 224;
  FatVolume v(path, f);
  Populate(v, 16384, 24);
  return v;
}

FatVolume BuildFat16Fixture(const std::string& path) {
  FatFormat f;
  f.fatBits = 16;
  f.sectors = 20480;
  f.sectorsPerCluster = 1;
  FatVolume v(path, f);
  Populate(v, 65536, 40);
  return v;
}

FatVolume BuildFat16DefaultReservedFixture(const std::string& path) {
  FatFormat f;
  f.fatBits = 16;
  f.sectors = 40960;
  f.sectorsPerCluster = 0;
  f.reservedSectors = 0;
  FatVolume v(path, f);
  v.Mkdir("DATA");
  v.Mkdir("DATA/2024");
  v.Write("DATA/2024/Quarterly figures.csv", 20000, 31);
  v.Write("README.TXT", 1200, 32);
  v.WriteFragmented("DATA/SPLIT.BIN", 30, 33, 6, "H");
  v.Write("TAIL.BIN", 9000, 34);
  return v;
}

FatVolume BuildFat32Fixture(const std::string& path) {
  FatFormat f;
  f.fatBits = 32;
  f.sectors = 131072;
  f.sectorsPerCluster = 1;
  f.reservedSectors = 0;
  FatVolume v(path, f);
  v.Write("HELLO.TXT", 1000, 41);
  return v;
}

FatVolume MakeFat12Fixture(const std::string& name) {
  return BuildFat12Fixture(FatImagePath(name));
}
FatVolume MakeFat16Fixture(const std::string& name) {
  return BuildFat16Fixture(FatImagePath(name));
}
FatVolume MakeFat16DefaultReservedFixture(const std::string& name) {
  return BuildFat16DefaultReservedFixture(FatImagePath(name));
}
FatVolume MakeFat32Fixture(const std::string& name) {
  return BuildFat32Fixture(FatImagePath(name));
}

RemoveOnExit::~RemoveOnExit() {
  std::error_code ec;
  fs::remove(path, ec);
}

std::vector<uint8_t> ReadImageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

PlainFatLayout ParseFatLayout(const std::vector<uint8_t>& image) {
  PlainFatLayout l;
  l.bytesPerSector = Le(image, 0x0B, 2);
  l.sectorsPerCluster = Le(image, 0x0D, 1);
  l.reservedSectors = Le(image, 0x0E, 2);
  l.fats = Le(image, 0x10, 1);
  l.rootEntries = Le(image, 0x11, 2);
  l.totalSectors = Le(image, 0x13, 2);
  if (l.totalSectors == 0) l.totalSectors = Le(image, 0x20, 4);
  l.sectorsPerFat = Le(image, 0x16, 2);
  if (l.bytesPerSector == 0 || l.sectorsPerCluster == 0 || l.sectorsPerFat == 0) return l;
  const uint32_t rootSectors = (l.rootEntries * 32 + l.bytesPerSector - 1) / l.bytesPerSector;
  l.rootDirSector = l.reservedSectors + l.fats * l.sectorsPerFat;
  l.firstDataSector = l.rootDirSector + rootSectors;
  if (l.totalSectors > l.firstDataSector)
    l.clusters = (l.totalSectors - l.firstDataSector) / l.sectorsPerCluster;
  l.bits = l.clusters < 4085 ? 12 : 16;
  return l;
}

uint32_t PlainFatEntry(const std::vector<uint8_t>& image, uint32_t cluster, int copy) {
  const PlainFatLayout l = ParseFatLayout(image);
  const size_t fat =
      (static_cast<size_t>(l.reservedSectors) + static_cast<size_t>(copy) * l.sectorsPerFat) *
      l.bytesPerSector;
  if (l.bits == 16) return Le(image, fat + cluster * 2u, 2);
  const uint32_t v = Le(image, fat + cluster + cluster / 2, 2);
  return (cluster & 1) ? v >> 4 : v & 0xFFF;
}

void PatchFatEntry(std::vector<uint8_t>& image, uint32_t cluster, uint32_t value) {
  const PlainFatLayout l = ParseFatLayout(image);
  for (uint32_t copy = 0; copy < l.fats; ++copy) {
    const size_t fat =
        (static_cast<size_t>(l.reservedSectors) + copy * l.sectorsPerFat) * l.bytesPerSector;
    if (l.bits == 16) {
      const size_t at = fat + cluster * 2u;
      image.at(at) = static_cast<uint8_t>(value);
      image.at(at + 1) = static_cast<uint8_t>(value >> 8);
    } else {
      const size_t at = fat + cluster + cluster / 2;
      uint32_t v = image.at(at) | (image.at(at + 1) << 8);
      if (cluster & 1)
        v = (v & 0x000F) | ((value & 0xFFF) << 4);
      else
        v = (v & 0xF000) | (value & 0xFFF);
      image.at(at) = static_cast<uint8_t>(v);
      image.at(at + 1) = static_cast<uint8_t>(v >> 8);
    }
  }
}

std::vector<uint32_t> PlainChain(const std::vector<uint8_t>& image, uint32_t start) {
  const PlainFatLayout l = ParseFatLayout(image);
  const uint32_t last = l.clusters + 1;
  const uint32_t endMark = l.bits == 12 ? 0xFF8 : 0xFFF8;
  const uint32_t badMark = l.bits == 12 ? 0xFF7 : 0xFFF7;
  std::vector<uint32_t> chain;
  uint32_t c = start;
  while (c >= 2 && c <= last && chain.size() <= l.clusters) {
    chain.push_back(c);
    const uint32_t next = PlainFatEntry(image, c);
    if (next >= endMark || next == badMark) break;
    c = next;
  }
  return chain;
}

std::vector<std::pair<uint32_t, uint32_t>> Runs(const std::vector<uint32_t>& clusters) {
  std::vector<std::pair<uint32_t, uint32_t>> runs;
  for (uint32_t c : clusters) {
    if (!runs.empty() && runs.back().first + runs.back().second == c)
      ++runs.back().second;
    else
      runs.emplace_back(c, 1);
  }
  return runs;
}

}  // namespace testsupport
