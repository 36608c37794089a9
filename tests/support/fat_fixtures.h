// FAT12/FAT16 (and FAT32, for refusals) volumes built at test time by the
// real tools: mkfs.fat formats an image file, mtools fills it. Content is
// deterministic: file bytes come from a seed, mkfs.fat runs with a fixed
// volume id and --invariant, and mtools stamps a fixed date.
//
// Beside the builders this holds independent readers used to check the
// program against: mshowfat's cluster lists, and a plain FAT parser that
// shares no code with the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Folder for fixture images: $VODURU_TEST_TMP (else /tmp) plus
// "voduru-fat", created when missing.
std::string FatFixtureDir();
// A fresh image path in that folder, unique to this process:
// "<dir>/<name>-<pid>.img".
std::string FatImagePath(const std::string& name);

// Runs a shell command with MTOOLS_SKIP_CHECK=1 and a fixed
// SOURCE_DATE_EPOCH; returns the exit status, output (stdout and stderr)
// in `output` when given.
int RunFatTool(const std::string& command, std::string* output = nullptr);

// `size` bytes derived from `seed` (the same seed and size always give the
// same bytes; different seeds differ).
std::vector<uint8_t> PatternBytes(uint32_t size, uint32_t seed);

struct FatFormat {
  int fatBits = 16;           // 12, 16 or 32 (mkfs.fat -F)
  uint32_t sectors = 20000;   // size of the image in 512-byte sectors
  int sectorsPerCluster = 1;  // 0: mkfs.fat chooses
  int reservedSectors = 1;    // -R 1 -a; 0: mkfs.fat's defaults (aligned)
  int rootEntries = 512;      // -r
  int fats = 2;               // -f
  int sectorSize = 512;       // -S when not 512
  std::string label = "VODURU";
};

// What a fixture put on its volume, in the order it was done.
struct FixtureEntry {
  std::string path;  // "DOCS/REPORT.TXT" (mtools path without "::/")
  bool folder = false;
  uint32_t size = 0;
  uint32_t seed = 0;
  bool erased = false;      // deleted again with mdel
  bool system = false;      // mattrib +s
  bool hidden = false;      // mattrib +h
  bool fragmented = false;  // written into gaps on purpose
};

// An image file formatted by mkfs.fat and changed through mtools. Every
// operation reports a failing tool (see FatFixtureFailed).
class FatVolume {
 public:
  FatVolume() = default;
  // Formats a new image at `path`, replacing any file there.
  FatVolume(std::string path, const FatFormat& format);

  const std::string& Path() const { return path_; }
  const FatFormat& Format() const { return format_; }
  const std::vector<FixtureEntry>& Entries() const { return entries_; }
  // The entry recorded for `path` (null when none).
  const FixtureEntry* Find(const std::string& path) const;

  void Mkdir(const std::string& path);
  // Writes a file of `size` pattern bytes from `seed`.
  void Write(const std::string& path, uint32_t size, uint32_t seed, bool fragmented = false);
  void Delete(const std::string& path);
  // mattrib flags, e.g. "+s", "+h", "+r".
  void Attrib(const std::string& path, const std::string& flags);
  // The file's content as mtools reads it back.
  std::vector<uint8_t> Read(const std::string& path) const;

  // Writes small files, deletes every other one and then writes `path` of
  // `clusters` clusters, which the gaps split into at least `gaps` + 1
  // segments. The helper files are named "<prefix>NN.GAP".
  void WriteFragmented(const std::string& path, uint32_t clusters, uint32_t seed, int gaps,
                       const std::string& prefix);

  // The file's clusters in chain order as mshowfat lists them (empty for a
  // zero-length file).
  std::vector<uint32_t> ShowFat(const std::string& path) const;

  uint32_t ClusterBytes() const;

 private:
  std::string path_;
  FatFormat format_;
  std::vector<FixtureEntry> entries_;
};

// The standard populated volumes. Each contains nested folders, files of
// several sizes, an empty file, erased entries, long names, a system file
// (IO.SYS), a hidden file (HIDDEN.DAT), pagefile.sys, a fragmented file
// (FRAG.BIN, written into the gaps left by deleted files) and a folder that
// grew after other files were written (MANY, fragmented).
// The Build* functions write the image at `path` (for the demo and tools);
// the Make* functions at FatImagePath(name).
FatVolume BuildFat12Fixture(const std::string& path);  // 1.44 MB, 1 reserved sector
FatVolume BuildFat16Fixture(const std::string& path);  // 10 MB, 1 reserved sector
// FAT16 with mkfs.fat's default, aligned layout (more than 1 reserved
// sector), with nested folders and a fragmented file.
FatVolume BuildFat16DefaultReservedFixture(const std::string& path);
// FAT32 (64 MB sparse image) with one file.
FatVolume BuildFat32Fixture(const std::string& path);

FatVolume MakeFat12Fixture(const std::string& name);
FatVolume MakeFat16Fixture(const std::string& name);
FatVolume MakeFat16DefaultReservedFixture(const std::string& name);
FatVolume MakeFat32Fixture(const std::string& name);

// Inside a running test a failed tool fails the test; elsewhere (a demo
// program) the failure is written to standard error and remembered here.
bool FatFixtureFailed();

// Removes an image file when it goes out of scope (also after a failed
// assertion).
struct RemoveOnExit {
  std::string path;
  ~RemoveOnExit();
};

// Reading images without the engine.
std::vector<uint8_t> ReadImageFile(const std::string& path);
void WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The layout of a FAT12/FAT16 image as the format defines it.
struct PlainFatLayout {
  uint32_t bytesPerSector = 0, sectorsPerCluster = 0, reservedSectors = 0, fats = 0;
  uint32_t rootEntries = 0, sectorsPerFat = 0, totalSectors = 0;
  uint32_t rootDirSector = 0, firstDataSector = 0, clusters = 0;
  int bits = 0;  // 12 or 16
};
PlainFatLayout ParseFatLayout(const std::vector<uint8_t>& image);

// Entry `cluster` of FAT copy `copy` (0 = first), raw width (12 or 16 bits).
uint32_t PlainFatEntry(const std::vector<uint8_t>& image, uint32_t cluster, int copy = 0);
// Sets entry `cluster` in every FAT copy.
void PatchFatEntry(std::vector<uint8_t>& image, uint32_t cluster, uint32_t value);
// The chain from `start` read from the first FAT with plain code: clusters
// until an end mark (0xFF8.. / 0xFFF8..) or bad mark, stopping at a free or
// out-of-range entry or after as many steps as the volume has clusters.
std::vector<uint32_t> PlainChain(const std::vector<uint8_t>& image, uint32_t start);

// Splits a cluster list into (start, length) runs of contiguous clusters.
std::vector<std::pair<uint32_t, uint32_t>> Runs(const std::vector<uint32_t>& clusters);

}  // namespace testsupport
