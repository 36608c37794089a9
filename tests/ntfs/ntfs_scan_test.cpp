// The NTFS scans on real volumes made by mkntfs and filled by libntfs-3g:
// the Checked View's and the Fast View's counts and report lines checked
// against what libntfs-3g and the volume bitmap say, the fragmented-files
// list, $Extend, unreachable records, damaged indexes, stops and the
// hand-over to the optimiser.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "map/map_colors.h"
#include "map/map_geometry.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/volume.h>
}

#include "ntfs/cluster_map.h"
#include "ntfs_scan_harness.h"
#include "runtime/format.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/file_table.h"

namespace vr::test {
namespace {

// ---- independent readings through libntfs-3g ------------------------------------------------

struct LibFile {
  std::string path;  // "\"-separated from the root, as the first name met
  bool folder = false;
  bool compressed = false;
  int fragments = 0;     // located runs that do not follow one another, + 1
  int64_t clusters = 0;  // located clusters of the unnamed $DATA or $I30 allocation
};

struct LibVolume {
  std::map<int64_t, LibFile> files;  // user records (16 and up) reached from the root
  std::set<int64_t> extend;          // $Extend and everything below it
  int64_t clusters = 0;
  int64_t clusterSize = 0;
  std::vector<uint8_t> bitmap;  // the volume bitmap
  int64_t secured = 0;          // reached records with a non-resident security descriptor
};

struct DirEntry {
  std::string name;
  int64_t mref;
  bool dir;
};

int Collect(void* context, const ntfschar* name, const int len, const int type, const s64,
            const MFT_REF mref, const unsigned dtType) {
  if (type == FILE_NAME_DOS) return 0;
  char* text = nullptr;
  if (ntfs_ucstombs(name, len, &text, 0) < 0) return -1;
  const std::string s(text);
  std::free(text);
  if (s != "." && s != "..")
    static_cast<std::vector<DirEntry>*>(context)->push_back(
        {s, static_cast<int64_t>(MREF(mref)), dtType == NTFS_DT_DIR});
  return 0;
}

void Runs(ntfs_attr* na, LibFile& f) {
  if (na == nullptr || !NAttrNonResident(na) || ntfs_attr_map_whole_runlist(na) != 0) return;
  int64_t next = -1;
  for (runlist_element* rl = na->rl; rl && rl->length; ++rl) {
    if (rl->lcn < 0) continue;
    if (rl->lcn != next) ++f.fragments;
    next = rl->lcn + rl->length;
    f.clusters += rl->length;
  }
}

void Walk(ntfs_volume* vol, int64_t mref, const std::string& path, bool underExtend,
          LibVolume& out) {
  ntfs_inode* ni = ntfs_inode_open(vol, mref);
  ASSERT_NE(ni, nullptr) << path;
  std::vector<DirEntry> entries;
  s64 pos = 0;
  ASSERT_EQ(ntfs_readdir(ni, &pos, &entries, Collect), 0) << path;
  ntfs_inode_close(ni);
  for (const DirEntry& e : entries) {
    const bool extend = underExtend || e.mref == FILE_Extend;
    if (extend) out.extend.insert(e.mref);
    if (e.mref < FILE_first_user && e.mref != FILE_Extend) continue;
    const std::string sub = path.empty() ? e.name : path + "\\" + e.name;
    const bool seen = out.files.count(e.mref) != 0 || out.extend.count(e.mref) != 0;
    if (!extend && !seen) {
      LibFile f;
      f.path = sub;
      f.folder = e.dir;
      ntfs_inode* fi = ntfs_inode_open(vol, e.mref);
      ASSERT_NE(fi, nullptr) << sub;
      ntfs_attr* na = e.dir ? ntfs_attr_open(fi, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)
                            : ntfs_attr_open(fi, AT_DATA, AT_UNNAMED, 0);
      Runs(na, f);
      f.compressed = na != nullptr && !e.dir && NAttrCompressed(na);
      if (na) ntfs_attr_close(na);
      ntfs_inode_close(fi);
      out.files[e.mref] = f;
    }
    if (e.dir && (extend || !seen)) Walk(vol, e.mref, sub, extend, out);
  }
}

LibVolume ReadWithLibntfs(const std::string& image) {
  LibVolume v;
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  EXPECT_NE(vol, nullptr);
  if (vol == nullptr) return v;
  Walk(vol, FILE_root, "", false, v);
  std::set<int64_t> reached(v.extend);
  for (const auto& [mref, f] : v.files) reached.insert(mref);
  for (int64_t r = 0; r < FILE_first_user; ++r)
    if (r < FILE_Extend && r != FILE_BadClus) reached.insert(r);
  for (int64_t r : reached) {
    ntfs_inode* ni = ntfs_inode_open(vol, r);
    if (ni == nullptr) continue;
    if (ntfs_attr* na = ntfs_attr_open(ni, AT_SECURITY_DESCRIPTOR, AT_UNNAMED, 0)) {
      if (NAttrNonResident(na)) ++v.secured;
      ntfs_attr_close(na);
    }
    ntfs_inode_close(ni);
  }
  v.clusters = vol->nr_clusters;
  v.clusterSize = vol->cluster_size;
  v.bitmap.resize(static_cast<size_t>(vol->lcnbmp_na->data_size));
  ntfs_attr_pread(vol->lcnbmp_na, 0, vol->lcnbmp_na->data_size, v.bitmap.data());
  ntfs_umount(vol, FALSE);
  return v;
}

bool Used(const LibVolume& v, int64_t c) { return (v.bitmap[c / 8] >> (c % 8)) & 1; }

std::string Image() { return testsupport::SharedNtfsFixture().Path(); }

// ---- raw patches of a volume image ----------------------------------------------------------

// Byte position of FILE record `mref` in the image.
int64_t RecordPosition(const std::string& image, int64_t mref) {
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  EXPECT_NE(vol, nullptr);
  if (vol == nullptr) return -1;
  const int64_t byte = mref * vol->mft_record_size;
  const int64_t lcn = ntfs_attr_vcn_to_lcn(vol->mft_na, byte / vol->cluster_size);
  const int64_t pos = lcn * vol->cluster_size + byte % vol->cluster_size;
  ntfs_umount(vol, FALSE);
  return pos;
}

int64_t Inode(const std::string& image, const std::string& path) {
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  EXPECT_NE(vol, nullptr);
  if (vol == nullptr) return -1;
  ntfs_inode* ni = ntfs_pathname_to_inode(vol, nullptr, path.c_str());
  const int64_t n = ni ? static_cast<int64_t>(ni->mft_no) : -1;
  if (ni) ntfs_inode_close(ni);
  ntfs_umount(vol, FALSE);
  return n;
}

// A multi-sector block (FILE record or index block) of `size` bytes at
// image[pos] as it reads after its update-sequence fixup.
std::vector<uint8_t> FixedUp(const std::vector<uint8_t>& image, int64_t pos, int64_t size) {
  std::vector<uint8_t> block(image.begin() + pos, image.begin() + pos + size);
  const MutableBytes b(block.data(), block.size());
  const int64_t usa = U16(b, 4);
  for (int64_t k = 0; k < size / 512; ++k) PutU16(b, 512 * k + 510, U16(b, usa + 2 + 2 * k));
  return block;
}

// Writes the low `width` bytes of `value` at `offset` of the block at
// image[pos], keeping its update sequence: the last two bytes of a sector
// live in the update-sequence array while the block is on the disk.
void PutProtected(std::vector<uint8_t>& image, int64_t pos, int64_t offset, uint64_t value,
                  int width) {
  uint8_t* b = image.data() + pos;
  const int64_t usa = U16(Bytes(b, 8), 4);
  for (int i = 0; i < width; ++i) {
    const int64_t k = offset + i;
    const auto byte = static_cast<uint8_t>(value >> (8 * i));
    if (k % 512 >= 510)
      b[usa + 2 + 2 * (k / 512) + (k % 512 - 510)] = byte;
    else
      b[k] = byte;
  }
}

struct IndexEntry {
  int64_t at, length, flags, mref;
  uint64_t vcn;  // sub-node, when flags has 1
};

// The entries of one index node whose header starts at `node` of `block`.
std::vector<IndexEntry> NodeEntries(const std::vector<uint8_t>& block, int64_t node) {
  std::vector<IndexEntry> out;
  const Bytes b(block.data(), block.size());
  for (int64_t e = node + U32(b, node); e < node + U32(b, node + 4);) {
    const int64_t length = U16(b, e + 8);
    const int flags = U8(b, e + 12);
    out.push_back({e, length, flags, static_cast<int64_t>(U32(b, e)),
                   (flags & 1) ? U64(b, e + length - 8) : 0});
    if (length == 0 || (flags & 2) != 0) break;
    e += length;
  }
  return out;
}

// The entries of the $I30 index root of the FILE record at image[pos], and
// the index block size it gives.
std::vector<IndexEntry> RootEntries(const std::vector<uint8_t>& image, int64_t pos,
                                    int64_t* blockSize = nullptr) {
  const std::vector<uint8_t> record = FixedUp(image, pos, 1024);
  const Bytes b(record.data(), record.size());
  for (int64_t a = U16(b, 20); a + 8 < 1024 && U32(b, a) != 0xFFFFFFFFu; a += U32(b, a + 4)) {
    if (U32(b, a) != 0x90) continue;
    const int64_t value = a + U16(b, a + 20);
    if (blockSize) *blockSize = U32(b, value + 8);
    return NodeEntries(record, value + 16);
  }
  return {};
}

// ---- the scans on the shared fixture --------------------------------------------------------

class NtfsScanOnFixture : public NtfsScanTest {
 protected:
  void SetUp() override {
    NtfsScanTest::SetUp();
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    image_ = Pristine();
    ASSERT_GT(image_.size(), 512u);
  }
  // The fixture's bytes, read once for the whole program.
  static const std::vector<uint8_t>& Pristine() {
    static const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(Image());
    return bytes;
  }
  std::vector<uint8_t> image_;
};

TEST_F(NtfsScanOnFixture, CheckedViewCountsAgreeWithLibntfs) {
  const LibVolume lib = ReadWithLibntfs(Image());
  int64_t files = 0, folders = 1;  // the root is one of the folders
  int64_t fragmented = 0, compressed = 0;
  for (const auto& [mref, f] : lib.files) {
    f.folder ? ++folders : ++files;
    if (f.fragments >= 2) ++fragmented;
    if (f.compressed) ++compressed;
  }
  ASSERT_GT(fragmented, 0);
  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(true);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  EXPECT_EQ(Line(lines, "User files="), "User files=" + Str(files) + ", Folders=" + Str(folders));
  EXPECT_EQ(Line(lines, "Fragmented files="), "Fragmented files=" + Str(fragmented));
  EXPECT_EQ(Line(lines, "Compressed files="),
            compressed == 0 ? "" : "Compressed files=" + Str(compressed));
  EXPECT_EQ(Line(lines, "Secured files="),
            lib.secured == 0 ? "" : "Secured files=" + Str(lib.secured));
  EXPECT_FALSE(Has(lines, "Bitmap: unmarked=")) << Joined(lines);
  EXPECT_TRUE(Has(lines, "Checking disk structure . ."));
  EXPECT_EQ(window_.closings, 1);
  EXPECT_EQ(window_.rawMoves, 1);
}

TEST_F(NtfsScanOnFixture, BlockMapShowsTheCategoriesOfChosenFiles) {
  std::vector<testsupport::LibntfsRun> many;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(Image(), "frag\\many.bin", many, error)) << error;
  ASSERT_GT(many.size(), 1u);
  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(true);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  // Every box holding a cluster of the fragmented file shows it fragmented
  // (no later paint may cover a fragmented file).
  for (const auto& run : many)
    for (int64_t c = run.lcn; c < run.lcn + run.length; ++c)
      ASSERT_EQ(BoxColors(BoxOfCluster(static_cast<int32_t>(c))), kColorFrag) << "cluster " << c;
  // The MFT is unmovable system data.
  EXPECT_EQ(BoxColors(BoxOfCluster(VolumeSession.MftLcn)), kColorFixed);
  // A box wholly inside the free space of the volume bitmap (read by
  // libntfs-3g) is empty.
  std::vector<uint8_t> bitmapBytes;
  ASSERT_TRUE(testsupport::LibntfsRead(Image(), "$Bitmap", bitmapBytes, error)) << error;
  const Bytes bitmap(bitmapBytes.data(), bitmapBytes.size());
  int64_t freeBox = -1;
  for (int64_t b = BoxColors.UBound() - 2; b > 0 && freeBox < 0; --b) {
    bool allFree = true;
    for (int64_t c = b * ClustersPerBox; c < (b + 1) * ClustersPerBox; ++c)
      if (c >= VolumeSession.TotalClusters || (U8(bitmap, c / 8) >> (c % 8)) & 1) allFree = false;
    if (allFree) freeBox = b;
  }
  ASSERT_GE(freeBox, 0);
  EXPECT_EQ(BoxColors(freeBox), kColorEmpty);
}

TEST_F(NtfsScanOnFixture, FreeSpaceLinesFollowTheVolumeBitmap) {
  const LibVolume lib = ReadWithLibntfs(Image());
  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(true);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  const int64_t spc = lib.clusterSize / 512;
  // Free clusters outside the bytes of the MFT zone; maximal free runs,
  // cut at one eighth of the volume, of at least 512 KB are large.
  const int64_t zoneFirst = int64_t{Allocation.MftZoneFirstByte.Value()} * 8;
  const int64_t zoneEnd = (int64_t{Allocation.MftZoneLastByte.Value()} + 1) * 8;
  const int64_t floor = Allocation.AllocationFloor;
  const int64_t big = 1024 / spc;
  int64_t total = 0, large = 0, zoneFree = 0, run = 0;
  auto close = [&] {
    if (run >= big) large += run;
    run = 0;
  };
  for (int64_t c = 0; c < lib.clusters; ++c) {
    const bool inZone = c >= zoneFirst && c < zoneEnd;
    if (c >= Allocation.MftZoneStart &&
        c < int64_t{Allocation.MftZoneStart.Value()} + Allocation.MftZoneLength && !Used(lib, c))
      ++zoneFree;
    if (c == floor && floor != 0) close();
    if (inZone || Used(lib, c)) {
      close();
      continue;
    }
    ++total;
    ++run;
  }
  close();
  EXPECT_EQ(Line(lines, "Large free space="), "Large free space=" + SizeText(large * spc));
  EXPECT_EQ(Line(lines, "Small free Space="),
            "Small free Space=" + SizeText((total - large) * spc));
  EXPECT_EQ(Line(lines, "MFT free space="), "MFT free space=" + SizeText(zoneFree * spc));
}

TEST_F(NtfsScanOnFixture, FragmentedListShowsRealPathsWithSizes) {
  const LibVolume lib = ReadWithLibntfs(Image());
  std::set<std::string> expected;
  for (const auto& [mref, f] : lib.files)
    if (f.fragments >= 2)
      expected.insert(
          "N:\\" + f.path + " (" +
          (f.folder ? std::string("folder") : SizeText(f.clusters * lib.clusterSize / 512)) + ")");
  ASSERT_FALSE(expected.empty());
  ASSERT_TRUE(Open(image_));
  Run(true);
  ASSERT_EQ(ErrorState.ErrorCount, 0);
  const std::vector<std::string> raw = Raw();
  EXPECT_EQ(std::set<std::string>(raw.begin(), raw.end()), expected);
  EXPECT_EQ(raw.size(), expected.size());  // each file once, hard links included
}

TEST_F(NtfsScanOnFixture, ExtendAndItsFilesAreUnmovableAndNeverListed) {
  const LibVolume lib = ReadWithLibntfs(Image());
  ASSERT_TRUE(lib.extend.count(FILE_Extend));
  ASSERT_GE(lib.extend.size(), 2u);
  ASSERT_TRUE(Open(image_, {"pagefile.sys"}));  // shared: every fragmented file is listed
  ASSERT_NE(VolumeSession.SharedMode, 0);
  Set_Ntfs_Window(&window_);
  ntfs::Reset_Counters();
  Trace_Dir_Tree();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  for (int64_t r : lib.extend) {
    SCOPED_TRACE(r);
    EXPECT_NE(FragmentState(r), 0);  // reached, so never an unreferenced record
    EXPECT_NE(FileFlags(r) & kFlagUnmovable, 0);
    EXPECT_NE(DoNotMove(r), 0);
    EXPECT_TRUE(Is_Extend_Object(r));
  }
  for (const auto& [mref, f] : lib.files) EXPECT_FALSE(Is_Extend_Object(mref)) << f.path;
  for (const std::string& entry : Raw()) EXPECT_EQ(entry.find("$Extend"), std::string::npos);
  Set_Ntfs_Window(nullptr);
}

TEST_F(NtfsScanOnFixture, SharedVolumeMarksBusyFilesAndPagefile) {
  ASSERT_TRUE(Open(image_, {"frag\\alpha.bin"}));
  ASSERT_NE(VolumeSession.SharedMode, 0);
  Set_Ntfs_Window(&window_);
  ntfs::Reset_Counters();
  Trace_Dir_Tree();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  const int64_t alpha = Inode(Image(), "/frag/alpha.bin");
  const int64_t beta = Inode(Image(), "/frag/beta.bin");
  const int64_t pagefile = Inode(Image(), "/pagefile.sys");
  const int64_t frag = Inode(Image(), "/frag");
  EXPECT_EQ(DoNotMove(alpha), 1);
  EXPECT_EQ(DoNotMove(beta), 0);
  EXPECT_NE(FileFlags(pagefile) & kFlagUnmovable, 0);
  EXPECT_EQ(DoNotMove(frag), 1);  // folders stay where they are on a volume in use
  EXPECT_NE(FileFlags(frag) & kFlagUnmovable, 0);
  const std::vector<std::string> raw = Raw();
  EXPECT_NE(std::find(raw.begin(), raw.end(), "N:\\frag\\alpha.bin (busy)"), raw.end());
  EXPECT_EQ(ntfs::UnmovableFragmented, 1);
  Set_Ntfs_Window(nullptr);
}

TEST_F(NtfsScanOnFixture, ExclusiveVolumeLeavesPagefileMovable) {
  ASSERT_TRUE(Open(image_));
  ASSERT_EQ(VolumeSession.SharedMode, 0);
  Set_Ntfs_Window(&window_);
  ntfs::Reset_Counters();
  Trace_Dir_Tree();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  const int64_t pagefile = Inode(Image(), "/pagefile.sys");
  EXPECT_EQ(FileFlags(pagefile) & kFlagUnmovable, 0);
  EXPECT_NE(FileFlags(pagefile) & kFlagSystem, 0);
  // Hard links: one record, decoded once, in the folder of its first name.
  EXPECT_GT(FragmentState(Inode(Image(), "/links/original.txt")), 0);
  // System records are unmovable, the root folder included.
  for (int r = 0; r < 11; ++r) EXPECT_NE(FileFlags(r) & kFlagUnmovable, 0) << r;
  EXPECT_NE(DoNotMove(5), 0);
  Set_Ntfs_Window(nullptr);
}

TEST_F(NtfsScanOnFixture, FastViewCountsTheUsersRecords) {
  // Independent count: base records in use from the first user record up
  // that carry a name, $Extend (record 11) and the files in it aside.
  ntfs_volume* vol = ntfs_mount(Image().c_str(), NTFS_MNT_RDONLY);
  ASSERT_NE(vol, nullptr);
  int64_t files = 0, folders = 0, system = 0;
  const int64_t records = vol->mft_na->initialized_size / vol->mft_record_size;
  for (int64_t r = 0; r < records; ++r) {
    ntfs_inode* ni = ntfs_inode_open(vol, r);
    if (ni == nullptr) continue;
    const bool base = ni->mrec->base_mft_record == 0 && (ni->mrec->flags & MFT_RECORD_IN_USE);
    if (base && ntfs_attr_exist(ni, AT_FILE_NAME, AT_UNNAMED, 0)) {
      ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
      ASSERT_NE(ctx, nullptr);
      ASSERT_EQ(ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx),
                0);
      const auto* name = reinterpret_cast<const FILE_NAME_ATTR*>(
          reinterpret_cast<const uint8_t*>(ctx->attr) + le16_to_cpu(ctx->attr->value_offset));
      const int64_t parent = MREF_LE(name->parent_directory);
      ntfs_attr_put_search_ctx(ctx);
      if (r < 11 || r == 11 || parent == 11) {
        ++system;
      } else {
        ntfs_attr_exist(ni, AT_INDEX_ROOT, NTFS_INDEX_I30, 4) ? ++folders : ++files;
      }
    }
    ntfs_inode_close(ni);
  }
  ntfs_umount(vol, FALSE);
  ASSERT_GT(system, 11);  // $MFT .. $Extend and the files in $Extend exist and are left out
  const LibVolume lib = ReadWithLibntfs(Image());
  int64_t fragmented = 0;
  for (const auto& [mref, f] : lib.files)
    if (f.fragments >= 2) ++fragmented;

  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(false);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  EXPECT_EQ(Line(lines, "Files="), "Files=" + Str(files) + ", Folders=" + Str(folders));
  EXPECT_EQ(Line(lines, "Fragmented Files="), "Fragmented Files=" + Str(fragmented));
  EXPECT_FALSE(Has(lines, "User files="));
  EXPECT_FALSE(Has(lines, "Compressed files="));
  EXPECT_FALSE(Has(lines, "Bitmap: unmarked="));
  EXPECT_TRUE(Raw().empty());  // the Fast View lists nothing
}

TEST_F(NtfsScanOnFixture, FastViewCountsSecuredRecords) {
  // Independent count: base records in use with a non-resident security
  // descriptor.
  ntfs_volume* vol = ntfs_mount(Image().c_str(), NTFS_MNT_RDONLY);
  ASSERT_NE(vol, nullptr);
  int64_t secured = 0;
  const int64_t records = vol->mft_na->initialized_size / vol->mft_record_size;
  for (int64_t r = 0; r < records; ++r) {
    ntfs_inode* ni = ntfs_inode_open(vol, r);
    if (ni == nullptr) continue;
    if (ni->mrec->base_mft_record == 0 && (ni->mrec->flags & MFT_RECORD_IN_USE)) {
      ntfs_attr* na = ntfs_attr_open(ni, AT_SECURITY_DESCRIPTOR, AT_UNNAMED, 0);
      if (na != nullptr) {
        if (NAttrNonResident(na)) ++secured;
        ntfs_attr_close(na);
      }
    }
    ntfs_inode_close(ni);
  }
  ntfs_umount(vol, FALSE);
  ASSERT_GT(secured, 0) << "the fixture has files with their own security descriptor";

  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(false);
  EXPECT_EQ(Line(lines, "Secured Files="), "Secured Files=" + Str(secured)) << Joined(lines);
}

TEST_F(NtfsScanOnFixture, StatusLinesEverySixteenOrHundredFiles) {
  ASSERT_TRUE(Open(image_));
  Run(true);
  ASSERT_EQ(ErrorState.ErrorCount, 0);
  auto counts = [&](int every) {
    int shown = 0;
    for (const std::string& t : window_.texts) {
      if (t.rfind("22:", 0) != 0 || t.size() < 4 || !std::isdigit(static_cast<unsigned char>(t[3])))
        continue;
      const int64_t files = std::stoll(t.substr(t.find(" / ") + 3));
      EXPECT_EQ(files % every, 0) << t;
      ++shown;
    }
    return shown;
  };
  EXPECT_NE(std::find(window_.texts.begin(), window_.texts.end(), "10:Checking:"),
            window_.texts.end());
  EXPECT_NE(std::find(window_.texts.begin(), window_.texts.end(), "22:Dir / File:"),
            window_.texts.end());
  EXPECT_GE(counts(16), 600 / 16);
  window_.texts.clear();
  ResetErrorState();
  ASSERT_TRUE(Open(image_));
  Run(false);
  ASSERT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_GE(counts(100), 6);
}

// A main window whose message queue delivers Esc after a number of turns.
class EscAfter : public RecordingMainWindow {
 public:
  explicit EscAfter(int turns) : turns_(turns) {}
  void DoEvents() override {
    if (--turns_ == 0) ErrorState.Failed = kTrue;
  }

 private:
  int turns_;
};

TEST_F(NtfsScanOnFixture, EscStopsTheScanAtTheNextFile) {
  for (bool checked : {true, false}) {
    SCOPED_TRACE(checked);
    EscAfter esc(5);
    SetMainWindow(&esc);
    ResetErrorState();
    FakeNtfsWindow window;
    ASSERT_TRUE(Open(image_));
    CheckedScan = checked ? kTrue : kFalse;
    FormLoad(window);
    const std::vector<std::string> lines = esc.LineTexts();
    EXPECT_TRUE(Has(lines, "User stop")) << Joined(lines);
    EXPECT_FALSE(Has(lines, "User files="));
    EXPECT_FALSE(Has(lines, "Files="));
    EXPECT_EQ(window.rawMoves, 0);  // no list after a stop
    EXPECT_EQ(window.closings, 1);
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    SetMainWindow(&main_);
  }
}

TEST_F(NtfsScanOnFixture, DefragEndsWhereTheOptimiserWouldStart) {
  ASSERT_TRUE(Open(image_));
  DefragMode = 0;
  const std::vector<std::string> lines = Run(false);  // Defrag always walks the tree
  EXPECT_TRUE(Has(lines, "User files=")) << Joined(lines);
  EXPECT_TRUE(Has(lines, "NTFS optimisation is not available yet."));
  EXPECT_FALSE(Has(lines, "User stop"));  // nobody stopped the scan
  EXPECT_NE(ErrorState.Failed, 0);        // but the command did not do its work
  EXPECT_EQ(window_.rawMoves, 1);
  EXPECT_EQ(window_.closings, 1);
}

// ---- volumes changed for one test -----------------------------------------------------------

class NtfsScanOnSmallVolume : public NtfsScanTest {
 protected:
  void SetUp() override {
    NtfsScanTest::SetUp();
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
  }

  // A fresh volume with folder "lost" holding small files, none fragmented.
  std::string Build(const std::string& name) {
    const std::string path = testsupport::TempPath(name);
    std::string error;
    EXPECT_TRUE(testsupport::MakeNtfsImage(path, 16, 4096, "SMALL", error)) << error;
    ntfs_volume* vol = ntfs_mount(path.c_str(), static_cast<ntfs_mount_flags>(0));
    EXPECT_NE(vol, nullptr);
    if (vol == nullptr) return path;
    ntfs_inode* root = ntfs_inode_open(vol, FILE_root);
    auto create = [&](ntfs_inode* dir, const std::string& n, mode_t type) {
      ntfschar* u = nullptr;
      const int len = ntfs_mbstoucs(n.c_str(), &u);
      ntfs_inode* ni = ntfs_create(dir, const_cpu_to_le32(0), u, static_cast<u8>(len), type);
      std::free(u);
      EXPECT_NE(ni, nullptr) << n;
      return ni;
    };
    ntfs_inode* lost = create(root, "lost", S_IFDIR);
    for (const char* n : {"keep.txt", "orphan.txt", "zeta.txt"}) {
      ntfs_inode* f = create(lost, n, S_IFREG);
      ntfs_attr* na = ntfs_attr_open(f, AT_DATA, AT_UNNAMED, 0);
      std::vector<uint8_t> data(9000, 0x5A);
      EXPECT_EQ(ntfs_attr_pwrite(na, 0, static_cast<s64>(data.size()), data.data()), 9000);
      ntfs_attr_close(na);
      ntfs_inode_close(f);
    }
    ntfs_inode_close(lost);
    ntfs_inode_close(root);
    EXPECT_EQ(ntfs_umount(vol, FALSE), 0);
    return path;
  }
};

TEST_F(NtfsScanOnSmallVolume, NoFragmentedFileLineOnlyInFastView) {
  const std::string path = Build("scan-unfragmented.img");
  const std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  ASSERT_TRUE(Open(image));
  std::vector<std::string> lines = Run(true);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  EXPECT_EQ(Line(lines, "User files="), "User files=3, Folders=2");
  EXPECT_FALSE(Has(lines, "Fragmented files=")) << Joined(lines);
  EXPECT_FALSE(Has(lines, "Compressed files="));
  ResetErrorState();
  ASSERT_TRUE(Open(image));
  lines = Run(false);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  EXPECT_TRUE(Has(lines, "Files=")) << Joined(lines);
  EXPECT_EQ(Line(lines, "Fragmented Files="), "Fragmented Files=0");
}

// Points the index entry of "lost\orphan.txt" at "lost\keep.txt": the
// orphan's record stays in use but no folder reaches it any more.
std::vector<uint8_t> Orphaned(const std::string& path) {
  std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  const int64_t pos = RecordPosition(path, Inode(path, "/lost"));
  const int64_t keep = Inode(path, "/lost/keep.txt");
  const int64_t orphan = Inode(path, "/lost/orphan.txt");
  bool patched = false;
  const std::vector<uint8_t> keepRecord = FixedUp(image, RecordPosition(path, keep), 1024);
  for (const IndexEntry& e : RootEntries(image, pos)) {
    if (e.mref != orphan) continue;
    // The whole reference, sequence number included, now names keep.txt.
    PutProtected(image, pos, e.at, static_cast<uint64_t>(keep), 6);
    PutProtected(image, pos, e.at + 6, U16(Bytes(keepRecord.data(), 1024), 16), 2);
    patched = true;
  }
  EXPECT_TRUE(patched);
  return image;
}

TEST_F(NtfsScanOnSmallVolume, UnreferencedRecordStopsASharedScan) {
  const std::string path = Build("scan-orphan.img");
  const int64_t orphan = Inode(path, "/lost/orphan.txt");
  const std::vector<uint8_t> image = Orphaned(path);
  ASSERT_TRUE(Open(image, {"lost\\keep.txt"}));
  ASSERT_NE(VolumeSession.SharedMode, 0);
  const std::vector<std::string> lines = Run(true);
  EXPECT_EQ(ErrorState.ErrorText, "Unref. file " + Str(orphan) + " orphan.txt") << Joined(lines);
  EXPECT_TRUE(Has(lines, "Err=Unref. file " + Str(orphan)));
  EXPECT_FALSE(Has(lines, "User files="));
  EXPECT_NE(ErrorState.Failed, 0);
  EXPECT_EQ(window_.rawMoves, 0);
}

TEST_F(NtfsScanOnSmallVolume, UnreferencedRecordStopsAnExclusiveScanToo) {
  const std::string path = Build("scan-orphan-exclusive.img");
  const int64_t orphan = Inode(path, "/lost/orphan.txt");
  const std::vector<uint8_t> image = Orphaned(path);
  ASSERT_TRUE(Open(image));
  ASSERT_EQ(VolumeSession.SharedMode, 0);
  const std::vector<std::string> lines = Run(true);
  // Before the bitmap check: the orphan's clusters would only have been
  // "excess", and its clusters free game for the optimiser.
  EXPECT_EQ(ErrorState.ErrorText, "Unref. file " + Str(orphan) + " orphan.txt") << Joined(lines);
  EXPECT_FALSE(Has(lines, "User files="));
  EXPECT_FALSE(Has(lines, "Bitmap: excess="));
  EXPECT_NE(ErrorState.Failed, 0);
  EXPECT_EQ(window_.rawMoves, 0);
}

// The offset of the unnamed non-resident $DATA attribute in a fixed-up record.
int64_t DataAttribute(const std::vector<uint8_t>& record) {
  const Bytes r(record.data(), record.size());
  for (int64_t at = U16(r, 0x14); at + 16 < static_cast<int64_t>(record.size());) {
    const uint32_t type = U32(r, at);
    const uint32_t length = U32(r, at + 4);
    if (type == 0xFFFFFFFFu || length == 0) break;
    if (type == 0x80 && U8(r, at + 8) != 0 && U8(r, at + 9) == 0) return at;
    at += length;
  }
  return -1;
}

TEST_F(NtfsScanOnSmallVolume, RecordFailingItsCheckStopsTheWalkAsInvalid) {
  const std::string path = Build("scan-invalid.img");
  std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  const int64_t zeta = Inode(path, "/lost/zeta.txt");
  const int64_t pos = RecordPosition(path, zeta);
  const int64_t data = DataAttribute(FixedUp(image, pos, 1024));
  ASSERT_GT(data, 0);
  // The last VCN no longer covers the file's three clusters.
  PutProtected(image, pos, data + 0x18, 0, 8);
  ASSERT_TRUE(Open(image));
  const std::vector<std::string> lines = Run(true);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid " + Str(zeta) + " zeta.txt") << Joined(lines);
  EXPECT_FALSE(Has(lines, "User files="));
  EXPECT_NE(ErrorState.Failed, 0);
}

TEST_F(NtfsScanOnSmallVolume, IndexEntryBeyondTheMftIsARecordedError) {
  const std::string path = Build("scan-beyond.img");
  std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  const int64_t pos = RecordPosition(path, Inode(path, "/lost"));
  const int64_t zeta = Inode(path, "/lost/zeta.txt");
  for (const IndexEntry& e : RootEntries(image, pos))
    if (e.mref == zeta) PutProtected(image, pos, e.at, 0x00FFFFF0u, 4);
  ASSERT_TRUE(Open(image));
  const std::vector<std::string> lines = Run(true);
  EXPECT_EQ(ErrorState.ErrorText, kBeyondMftText + " " + Str(0x00FFFFF0)) << Joined(lines);
  EXPECT_EQ(ErrorState.ErrorWhere, "Root_Dir_Tree");
  EXPECT_TRUE(Has(lines, "Err=" + kBeyondMftText));
  EXPECT_FALSE(Has(lines, "User files="));
  EXPECT_TRUE(Has(lines, "Error stop"));
}

// Record 6's unnamed $DATA rewritten as two runs that touch: the same
// clusters, but a $Bitmap the volume can no longer be read from in one piece.
// False when the run list has no room for the second run.
bool SplitBitmapRun(std::vector<uint8_t>& image, const std::string& path) {
  const int64_t pos = RecordPosition(path, 6);
  const std::vector<uint8_t> record = FixedUp(image, pos, 1024);
  const Bytes b(record.data(), record.size());
  for (int64_t a = U16(b, 20); a + 8 < 1024 && U32(b, a) != 0xFFFFFFFFu; a += U32(b, a + 4)) {
    if (U32(b, a) != 0x80 || U8(b, a + 8) != 1 || U8(b, a + 9) != 0) continue;
    const int64_t runs = a + U16(b, a + 32);
    const int64_t room = U32(b, a + 4) - U16(b, a + 32);
    const int header = U8(b, runs);
    const int lengthBytes = header & 15, offsetBytes = header >> 4;
    if (U8(b, runs + 1 + lengthBytes + offsetBytes) != 0) return false;  // one run only
    int64_t length = 0;
    for (int i = 0; i < lengthBytes; ++i) length |= int64_t{U8(b, runs + 1 + i)} << (8 * i);
    if (length < 2 || length / 2 > 127) return false;
    const int64_t first = length / 2;
    // First run: the same header and offset with the shorter length; second:
    // the rest, starting `first` clusters further on.
    std::vector<uint8_t> list;
    list.push_back(static_cast<uint8_t>((offsetBytes << 4) | 1));
    list.push_back(static_cast<uint8_t>(first));
    for (int i = 0; i < offsetBytes; ++i) list.push_back(U8(b, runs + 1 + lengthBytes + i));
    list.push_back(0x11);
    list.push_back(static_cast<uint8_t>(length - first));
    list.push_back(static_cast<uint8_t>(first));
    list.push_back(0);
    if (static_cast<int64_t>(list.size()) > room) return false;
    for (size_t i = 0; i < list.size(); ++i)
      PutProtected(image, pos, runs + static_cast<int64_t>(i), list[i], 1);
    return true;
  }
  return false;
}

TEST_F(NtfsScanOnSmallVolume, FragmentedBitmapSwitchesToSharedReading) {
  const std::string path = testsupport::TempPath("scan-split-bitmap.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(path, 16, 512, "SPLIT", error)) << error;
  std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  ASSERT_TRUE(SplitBitmapRun(image, path)) << "no room to split the $Bitmap run";
  ASSERT_TRUE(Open(image));
  ASSERT_EQ(VolumeSession.SharedMode, 0);
  ASSERT_NE(VolumeSession.Locked, 0);
  const std::vector<std::string> lines = Run(true);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << "\n" << Joined(lines);
  EXPECT_NE(VolumeSession.SharedMode, 0);
  EXPECT_NE(VolumeSession.NotLocked, 0);
  EXPECT_EQ(VolumeSession.Locked, 0);     // the file system answers only an unlocked volume
  EXPECT_EQ(Allocation.BitmapSector, 0);  // never written raw
  EXPECT_EQ(Line(lines, "User files="), "User files=0, Folders=1");
  EXPECT_FALSE(Has(lines, "Bitmap:"));  // no cluster cross-check on a shared volume
  EXPECT_TRUE(Has(lines, "Large free space="));
}

// A device on which the volume bitmap changes once a given FILE record has
// been read: one more cluster is in use from then on.
class BitmapChangesAfter : public platform::ForwardingDevice {
 public:
  BitmapChangesAfter(std::shared_ptr<platform::BlockDevice> inner, uint64_t trigger,
                     uint64_t bitmapAt, int64_t cluster)
      : ForwardingDevice(std::move(inner)),
        trigger_(trigger),
        bitmapAt_(bitmapAt),
        cluster_(cluster) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (!inner_->Read(offset, buffer, size)) return false;
    if (offset <= trigger_ && trigger_ < offset + size) triggered_ = true;
    const uint64_t byte = bitmapAt_ + static_cast<uint64_t>(cluster_ / 8);
    if (triggered_ && offset <= byte && byte < offset + size)
      static_cast<uint8_t*>(buffer)[byte - offset] |= static_cast<uint8_t>(1u << (cluster_ % 8));
    return true;
  }

 private:
  uint64_t trigger_, bitmapAt_;
  int64_t cluster_;
  bool triggered_ = false;
};

TEST_F(NtfsScanOnFixture, BitmapIsReadAgainAfterTheWalk) {
  const LibVolume lib = ReadWithLibntfs(Image());
  ASSERT_TRUE(Open(image_));
  // Every cluster of the healthy volume has its owner.
  ASSERT_EQ(Line(Run(true), "Bitmap: excess="), "");
  ASSERT_EQ(ErrorState.ErrorCount, 0);
  // A free cluster near the end, taken by "another program" while the walk
  // runs: only a bitmap read after the walk sees it.
  int64_t cluster = lib.clusters - 1;
  while (Used(lib, cluster)) --cluster;
  ntfs_volume* vol = ntfs_mount(Image().c_str(), NTFS_MNT_RDONLY);
  ASSERT_NE(vol, nullptr);
  const uint64_t bitmapAt =
      static_cast<uint64_t>(ntfs_attr_vcn_to_lcn(vol->lcnbmp_na, 0)) * vol->cluster_size;
  ntfs_umount(vol, FALSE);
  const uint64_t trigger =
      static_cast<uint64_t>(RecordPosition(Image(), Inode(Image(), "/docs/report.doc")));
  platform::SetDeviceWrapper('n', [&](std::shared_ptr<platform::BlockDevice> inner) {
    return std::make_shared<BitmapChangesAfter>(std::move(inner), trigger, bitmapAt, cluster);
  });
  ResetErrorState();
  window_ = FakeNtfsWindow{};
  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(true);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << Joined(lines);
  EXPECT_EQ(Line(lines, "Bitmap: excess="), "Bitmap: excess=1");
}

TEST_F(NtfsScanOnFixture, SubNodeMetTwiceIsARecordedError) {
  // The 600-entry folder's index root points into index blocks; make two of
  // its entries name the same sub-node.
  const std::string path = Image();
  std::string folder;
  for (const testsupport::NtfsFixtureEntry& e : testsupport::SharedNtfsFixture().Entries())
    if (e.flags & testsupport::kNtfsLargeIndex) folder = e.path;
  ASSERT_FALSE(folder.empty());
  std::string slashed = "/" + folder;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const int64_t folderRecord = Inode(path, slashed);
  const int64_t pos = RecordPosition(path, folderRecord);
  int64_t blockSize = 0;
  std::vector<IndexEntry> root = RootEntries(image_, pos, &blockSize);
  std::vector<IndexEntry> withSub;
  for (const IndexEntry& e : root)
    if (e.flags & 1) withSub.push_back(e);
  ASSERT_FALSE(withSub.empty());
  uint64_t vcn = 0;
  if (withSub.size() >= 2) {
    vcn = withSub[0].vcn;
    PutProtected(image_, pos, withSub[1].at + withSub[1].length - 8, vcn, 8);
  } else {
    // A deeper index: the root's one sub-node is a block of sub-nodes.
    ntfs_volume* vol = ntfs_mount(path.c_str(), NTFS_MNT_RDONLY);
    ASSERT_NE(vol, nullptr);
    ntfs_inode* ni = ntfs_inode_open(vol, folderRecord);
    ntfs_attr* na = ntfs_attr_open(ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4);
    ASSERT_NE(na, nullptr);
    ASSERT_GE(blockSize, static_cast<int64_t>(vol->cluster_size));
    const int64_t blockPos = ntfs_attr_vcn_to_lcn(na, withSub[0].vcn) * vol->cluster_size;
    ntfs_attr_close(na);
    ntfs_inode_close(ni);
    ntfs_umount(vol, FALSE);
    const std::vector<uint8_t> block = FixedUp(image_, blockPos, blockSize);
    ASSERT_EQ(std::string(block.begin(), block.begin() + 4), "INDX");
    std::vector<IndexEntry> inner;
    for (const IndexEntry& e : NodeEntries(block, 24))
      if (e.flags & 1) inner.push_back(e);
    ASSERT_GE(inner.size(), 2u);
    vcn = inner[0].vcn;
    PutProtected(image_, blockPos, inner[1].at + inner[1].length - 8, vcn, 8);
  }
  ASSERT_TRUE(Open(image_));
  const std::vector<std::string> lines = Run(true);
  EXPECT_EQ(ErrorState.ErrorText, "VCN " + Str(static_cast<int64_t>(vcn)) + " twice")
      << Joined(lines);
  EXPECT_EQ(ErrorState.ErrorWhere, "Dir_Tree");
  EXPECT_NE(ErrorState.RecordFault, 0);
  EXPECT_FALSE(Has(lines, "User files="));
}

}  // namespace
}  // namespace vr::test
