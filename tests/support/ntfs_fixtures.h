// NTFS volumes built at test time: mkntfs formats an image file and
// libntfs-3g, working on the image path (never a mounted file system), fills
// it. File content is deterministic (seeded pattern bytes), so two builds
// hold identical files; what was written is recorded in a manifest.
//
// Beside the builder this holds independent readers through libntfs-3g, to
// check the program and the platform's driver against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct NtfsFixtureOptions {
  int sizeMb = 64;         // image size
  int clusterSize = 4096;  // bytes; 0: mkntfs's choice
  bool large = false;      // adds at least `largeFiles` small files (benchmarks)
  uint32_t largeFiles = 100000;
  uint32_t largeFilesPerFolder = 1000;
  // File i of the large set holds (i % 5) * largeFileStep bytes: with the
  // default all stay in their records; from about 700 bytes on most take
  // clusters, as the documents of a volume in ordinary use do.
  uint32_t largeFileStep = 40;
  // Every allocation looks for room from the start of the data zone (see
  // AllocateFromStart), so folders' index blocks lie among the data written
  // when they grew. Off: libntfs-3g's own placement.
  bool fillFromStart = false;
  std::string label = "VODURU";
  // Adds the records the structure viewer's searches look for that the
  // standard set lacks: a file with a small (resident) attribute list and a
  // plain file over 1 MB, in folder "viewer".
  bool viewerRecords = false;
};

// What a manifest entry is; several may hold.
enum NtfsEntryFlag : uint32_t {
  kNtfsFolder = 0x001,
  kNtfsFragmented = 0x002,     // data in several runs on purpose
  kNtfsAttributeList = 0x004,  // the base record overflowed into extension records
  kNtfsSparse = 0x008,
  kNtfsCompressed = 0x010,
  kNtfsHardLink = 0x020,     // a further name of the file named in `linkOf`
  kNtfsNamedStream = 0x040,  // a named $DATA stream of the file `path` (name in `stream`)
  kNtfsHidden = 0x080,
  kNtfsSystem = 0x100,
  kNtfsLargeIndex = 0x200,  // a folder whose index needs index blocks
};

// A piece of a file's content: `length` pattern bytes of `seed` at `offset`.
// Everything between pieces (and up to `size`) reads as zeros.
struct NtfsPiece {
  uint64_t offset = 0;
  uint32_t length = 0;
  uint32_t seed = 0;
};

struct NtfsFixtureEntry {
  std::string path;  // "\"-separated from the root: "docs\2024\q1.txt"
  uint32_t flags = 0;
  uint64_t size = 0;  // data size of the unnamed $DATA (of the stream for streams)
  std::vector<NtfsPiece> pieces;
  std::string stream;  // stream name for kNtfsNamedStream entries
  std::string linkOf;  // the first name of the file for kNtfsHardLink entries
};

// The bytes an entry's data holds.
std::vector<uint8_t> ExpectedContent(const NtfsFixtureEntry& entry);

class NtfsFixture {
 public:
  const std::string& Path() const { return path_; }
  const NtfsFixtureOptions& Options() const { return options_; }
  const std::vector<NtfsFixtureEntry>& Entries() const { return entries_; }
  // The entry of `path` (case-insensitive; streams excluded); null when none.
  const NtfsFixtureEntry* Find(const std::string& path) const;
  // The manifest: one line per entry, "<flags> <size> <path>[:<stream>][ = <linkOf>]".
  std::string Manifest() const;
  // Seconds the population took.
  double Seconds() const { return seconds_; }
  // Whether libntfs-3g wrote a compressed file (cluster size above 4096: no).
  bool HasCompressed() const;

 private:
  friend bool BuildNtfsFixture(const std::string&, const NtfsFixtureOptions&, NtfsFixture&,
                               std::string&);
  std::string path_;
  NtfsFixtureOptions options_;
  std::vector<NtfsFixtureEntry> entries_;
  double seconds_ = 0;
};

// Formats `path` with mkntfs and fills it: nested folders, a folder of 600
// long names (multi-level index), fragmented files, a file with an attribute
// list (800 runs) and one made by 30 hard links, a sparse file, a compressed
// file (clusters of 4096 bytes or less), hard links, a named stream, hidden
// and system files, an empty file, pagefile.sys. False and `error` on failure.
bool BuildNtfsFixture(const std::string& path, const NtfsFixtureOptions& options,
                      NtfsFixture& fixture, std::string& error);

// Makes libntfs-3g's next allocation without a placement hint look from the
// start of the data zone (just past the MFT zone). Left alone, its allocator
// moves that point 4,096 clusters past the end of every such allocation
// (NTFS_LCNALLOC_SKIP in lcnalloc.c), so the first index block of each new
// folder, and the first clusters of each new file, land 4,096 clusters past
// the previous one and march across the whole volume. A volume filled in
// ordinary use holds its folders' index blocks among the data written when
// the folders grew; called before each write, this builds such a volume.
// From that point libntfs-3g takes the largest free run within the next
// 32,768 clusters (one 4 KB block of its bitmap): on volumes of 342 MB and
// more that block ends below the middle of the volume, and new data follows
// the data written so far until the block is full. `volume` is libntfs-3g's
// ntfs_volume.
void AllocateFromStart(void* volume);

// The standard fixture, built once per test program in TempDir() and shared;
// tests must not change it (copy it first). Fails the calling test when the
// build fails.
const NtfsFixture& SharedNtfsFixture();

// Independent readers through libntfs-3g on an image path.
// The unnamed $DATA (or the named `stream`) of `path` ("\"-separated).
bool LibntfsRead(const std::string& image, const std::string& path, std::vector<uint8_t>& data,
                 std::string& error, const std::string& stream = "");

// The MFT record number of `path` as libntfs-3g resolves it.
bool LibntfsRecordNumber(const std::string& image, const std::string& path, int64_t& record,
                         std::string& error);
struct LibntfsRun {
  int64_t vcn = 0;
  int64_t lcn = 0;  // -1 for a hole
  int64_t length = 0;
};
// The runs of the unnamed $DATA of `path` as ntfs_attr_map_whole_runlist
// gives them (without the terminator); empty for resident data.
bool LibntfsRunlist(const std::string& image, const std::string& path,
                    std::vector<LibntfsRun>& runs, std::string& error);

// The runs of the index blocks ($INDEX_ALLOCATION "$I30") of `folder`;
// empty when its index fits in its record.
bool LibntfsIndexRunlist(const std::string& image, const std::string& folder,
                         std::vector<LibntfsRun>& runs, std::string& error);

// The names in a folder as ntfs_readdir lists them (long names, without
// DOS-only names, "." and ".." and the system files below record 16).
bool LibntfsList(const std::string& image, const std::string& folder,
                 std::vector<std::string>& names, std::string& error);

}  // namespace testsupport
