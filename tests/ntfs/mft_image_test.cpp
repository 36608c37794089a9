// The MFT layer on real volumes made by mkntfs and filled by libntfs-3g
// (folders, fragmented files, files whose attribute lists spread their
// extents and names over several records): every record in use read and
// decoded raw on an exclusively held volume, and through the NTFS driver on
// a shared one, checked against what libntfs-3g reads from the same image.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/volume.h>
}

#include "drivers/builtin_drivers.h"
#include "libntfs_probe.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_geometry.h"
#include "ntfs_test_support.h"
#include "platform/fs_driver.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

struct Segments {
  std::vector<int64_t> lengths, lcns;
  int64_t clusters = 0;
};

// Touching segments joined: the clusters in file order, however the runs
// were cut (libntfs-3g joins runs across extents that NTFS keeps apart).
Segments Joined(const std::vector<int64_t>& lengths, const std::vector<int64_t>& lcns) {
  Segments s;
  for (size_t i = 0; i < lengths.size(); ++i) {
    s.clusters += lengths[i];
    if (!s.lcns.empty() && s.lcns.back() + s.lengths.back() == lcns[i]) {
      s.lengths.back() += lengths[i];
    } else {
      s.lengths.push_back(lengths[i]);
      s.lcns.push_back(lcns[i]);
    }
  }
  return s;
}

Segments Joined(const VbArray<Long>& lengths, const VbArray<Long>& lcns) {
  return Joined(Column(lengths), Column(lcns));
}

// The located runs of an attribute as libntfs-3g maps them.
Segments LibSegments(ntfs_attr* na) {
  std::vector<int64_t> lengths, lcns;
  EXPECT_EQ(ntfs_attr_map_whole_runlist(na), 0);
  for (runlist_element* rl = na->rl; rl && rl->length; ++rl) {
    if (rl->lcn >= 0) {
      lengths.push_back(rl->length);
      lcns.push_back(rl->lcn);
    }
  }
  return Joined(lengths, lcns);
}

// What libntfs-3g says a base record holds.
struct Expected {
  std::string name;
  bool folder = false;
  bool attributeList = false;
  bool resident = false;
  int64_t size = 0;
  Segments segments;
};

Expected Expect(ntfs_inode* ni, int64_t n) {
  Expected e;
  e.name = n == 0 ? "$MFT" : FirstFileName(ni);
  e.attributeList = NInoAttrList(ni);
  e.folder = ntfs_attr_exist(ni, AT_INDEX_ROOT, NTFS_INDEX_I30, 4);
  if (e.folder) {
    if (ntfs_attr* na = ntfs_attr_open(ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)) {
      e.segments = LibSegments(na);
      e.size = na->allocated_size;
      ntfs_attr_close(na);
    }
  } else if (!HasUnnamedData(ni)) {
    // Named streams only ($Secure): no size, no segments.
  } else if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)) {
    e.resident = !NAttrNonResident(na);
    if (!e.resident) e.segments = LibSegments(na);
    e.size = na->data_size;
    ntfs_attr_close(na);
  }
  return e;
}

// A volume of 512-byte clusters, where a 1 KB record takes two clusters:
// folders of small and larger files, sparse files (one with data in every
// other cluster, whose run list needs extension records) and a file with
// so many names that they leave its base record.
bool BuildSmallClusterVolume(const std::string& path, std::string& error) {
  if (!testsupport::MakeNtfsImage(path, 48, 512, "SMALL", error)) return false;
  ntfs_volume* vol = ntfs_mount(path.c_str(), static_cast<ntfs_mount_flags>(0));
  if (vol == nullptr) {
    error = "ntfs_mount failed";
    return false;
  }
  std::vector<uint8_t> data(200000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 11 + i / 509);
  bool ok = true;
  auto create = [&](ntfs_inode* dir, const std::string& name, mode_t type) -> ntfs_inode* {
    ntfschar* uname = nullptr;
    const int len = ntfs_mbstoucs(name.c_str(), &uname);
    ntfs_inode* ni = ntfs_create(dir, const_cpu_to_le32(0), uname, static_cast<u8>(len), type);
    free(uname);
    if (ni == nullptr) {
      ok = false;
      error = "cannot create " + name;
    }
    return ni;
  };
  auto write = [&](ntfs_inode* ni, int64_t pos, int64_t count) {
    ntfs_attr* na = ni ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
    if (na == nullptr || ntfs_attr_pwrite(na, pos, count, data.data()) != count) {
      ok = false;
      error = "write failed";
    }
    if (na) ntfs_attr_close(na);
  };
  // An inode is closed through its open parent: closed on its own, its name
  // is synced through a second inode of the parent, which fails (EIO) once
  // the parent's index has changed, and a failed close frees nothing.
  auto close = [&](ntfs_inode* ni, ntfs_inode* dir) {
    if (ni != nullptr && ntfs_inode_close_in_dir(ni, dir) != 0) {
      ok = false;
      error = "cannot close an inode";
    }
  };
  ntfs_inode* root = ntfs_inode_open(vol, FILE_root);
  for (int d = 0; d < 4 && ok; ++d) {
    ntfs_inode* dir = create(root, "folder " + std::to_string(d), S_IFDIR);
    for (int i = 0; i < 40 && ok; ++i) {
      ntfs_inode* f = create(dir, "file number " + std::to_string(i) + ".dat", S_IFREG);
      write(f, 0, 37 * (i % 5) + 1500 * (i % 3));
      close(f, dir);
    }
    close(dir, root);
  }
  ntfs_inode* sparse = create(root, "sparse.bin", S_IFREG);
  write(sparse, 0, 3000);
  write(sparse, 90000, 5000);
  // Data in every other cluster: over a thousand runs, so the run list
  // spreads over extension records.
  ntfs_inode* holes = create(root, "every other cluster.bin", S_IFREG);
  for (int i = 0; i < 600 && ok; ++i) write(holes, i * 1024, 512);
  // So many names that the $FILE_NAME attributes leave the base record.
  ntfs_inode* crowd = create(root, "crowd.txt", S_IFREG);
  write(crowd, 0, 2500);
  for (int i = 1; i <= 30 && ok && crowd; ++i) {
    const std::string name =
        "crowd link " + std::to_string(i) + " with a longer name than usual.txt";
    ntfschar* uname = nullptr;
    const int len = ntfs_mbstoucs(name.c_str(), &uname);
    if (ntfs_link(crowd, root, uname, static_cast<u8>(len)) != 0) {
      ok = false;
      error = "cannot link " + name;
    }
    free(uname);
  }
  for (ntfs_inode* ni : {sparse, holes, crowd}) close(ni, root);
  ntfs_inode_close(root);
  if (ntfs_umount(vol, FALSE) != 0 && ok) {
    ok = false;
    error = "ntfs_umount failed";
  }
  return ok;
}

// The image of a parameter: the project's standard fixture (4 KB clusters)
// or the small-cluster volume, each built once.
std::string ImagePath(int clusterSize) {
  if (clusterSize == 4096) return testsupport::SharedNtfsFixture().Path();
  static std::string path;
  static std::string error;
  static const bool built = [] {
    path = testsupport::TempPath("mft-small-clusters.img");
    return BuildSmallClusterVolume(path, error);
  }();
  EXPECT_TRUE(built) << error;
  return built ? path : "";
}

class MftOnRealVolume : public NtfsTest, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    platform::ResetPlatform();
    Install_MFT_Hooks();
    Paint_20h_Hook = nullptr;
    CheckedScan = -1;
    path_ = ImagePath(GetParam());
    ASSERT_FALSE(path_.empty());
    image_ = testsupport::ReadFileBytes(path_);
    ASSERT_GE(image_.size(), 512u);
    vol_ = ntfs_mount(path_.c_str(), NTFS_MNT_RDONLY);
    ASSERT_NE(vol_, nullptr);
    const Bytes boot(image_.data(), 512);
    Set_Ntfs_Geometry(boot);
    VolumeSession.TotalClusters = static_cast<int32_t>(vol_->nr_clusters);
    VolumeSession.IsNtfs = -1;
    VolumeSession.RecordsRead = 0;
    ASSERT_EQ(VolumeSession.SectorsPerCluster * 512, static_cast<int32_t>(vol_->cluster_size));
    records_ = vol_->mft_na->initialized_size / vol_->mft_record_size;
  }
  void TearDown() override {
    Long h = VolumeSession.VolumeHandle;
    Close_Drive(h);
    VolumeSession.VolumeHandle = -1;
    VolumeSession.SharedMode = 0;
    VolumeSession.MftRunLengths.ReDim(0);
    VolumeSession.MftRunLcns.ReDim(0);
    platform::ResetPlatform();
    if (vol_) ntfs_umount(vol_, FALSE);
    NtfsTest::TearDown();
  }

  void Open(bool shared) {
    platform::MapMemoryDrive('n', std::make_shared<platform::MemoryDevice>(image_, true));
    VolumeSession.VolumeHandle = Open_Drive("n:", kAccessRead, shared ? 3 : 0);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
    VolumeSession.SharedMode = shared ? -1 : 0;
  }

  // Record 0 into the $MFT's segments, then the MFT bitmap, as a scan starts.
  void LoadMft() {
    ASSERT_TRUE(Load_Mft()) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
    const Segments mft = LibSegments(vol_->mft_na);
    ASSERT_EQ(Joined(VolumeSession.MftRunLengths, VolumeSession.MftRunLcns).lcns, mft.lcns);
    ASSERT_EQ(Mft_Record_Count(), vol_->mft_na->allocated_size / vol_->mft_record_size);
  }

  // Every record in use decoded as libntfs-3g reads it; afterwards every
  // record in use, extension records included, is marked seen.
  void DecodeEveryRecord() {
    int attributeLists = 0, spread = 0, folders = 0, files = 0;
    for (int64_t n = 0; n < records_; ++n) {
      if (!Is_Active(Long(static_cast<int32_t>(n)))) continue;
      ntfs_inode* ni = ntfs_inode_open(vol_, static_cast<MFT_REF>(n));
      if (ni == nullptr) continue;
      if (ni->mrec->base_mft_record != 0) {  // an extension: reached through its base
        ntfs_inode_close(ni);
        continue;
      }
      SCOPED_TRACE("record " + std::to_string(n));
      const Expected e = Expect(ni, n);
      ntfs_inode_close(ni);
      VbArray<Long> lengths, lcns;
      ByteArray buffer;
      RecordInfo info;
      Decode_FILE(VolumeSession.VolumeHandle, Long(static_cast<int32_t>(n)), lengths, lcns, buffer,
                  info);
      ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
      EXPECT_EQ(info.Name, e.name);
      EXPECT_EQ(info.IsDirectory, e.folder ? -1 : 0);
      EXPECT_EQ(info.HasAttributeList, e.attributeList ? -1 : 0);
      EXPECT_EQ(info.Size, static_cast<int32_t>(e.size));
      const Segments got = Joined(lengths, lcns);
      EXPECT_EQ(got.lcns, e.segments.lcns);
      EXPECT_EQ(got.lengths, e.segments.lengths);
      EXPECT_EQ(info.Clusters, e.segments.clusters);
      if (e.attributeList) ++attributeLists;
      if (e.attributeList && lengths.UBound() > 100) ++spread;
      (e.folder ? folders : files) += 1;
    }
    // The volume holds what the checks are about: a file whose extents lie
    // in several records, and one whose names do.
    EXPECT_GE(attributeLists, 2);
    EXPECT_GE(spread, 1);
    EXPECT_GE(folders, 5);
    EXPECT_GE(files, 150);
    // Every record the MFT bitmap calls in use was decoded or named by a
    // list (libntfs-3g opens no extension record as an inode: read them).
    const int64_t bitmapBytes = vol_->mftbmp_na->data_size;
    std::vector<uint8_t> inUse(static_cast<size_t>(bitmapBytes));
    ASSERT_EQ(ntfs_attr_pread(vol_->mftbmp_na, 0, bitmapBytes, inUse.data()), bitmapBytes);
    std::vector<uint8_t> record(vol_->mft_record_size);
    int extensions = 0;
    for (int64_t n = 0; n < records_; ++n) {
      if (!((inUse[static_cast<size_t>(n / 8)] >> (n % 8)) & 1)) continue;
      ASSERT_EQ(ntfs_mft_records_read(vol_, static_cast<MFT_REF>(n), 1,
                                      reinterpret_cast<MFT_RECORD*>(record.data())),
                0);
      if (reinterpret_cast<MFT_RECORD*>(record.data())->base_mft_record != 0) ++extensions;
      EXPECT_TRUE((SeenRecords(n / 8) >> (n % 8)) & 1) << "record " << n << " not seen";
    }
    EXPECT_GE(extensions, 2);
  }

  std::string path_;
  std::vector<uint8_t> image_;
  ntfs_volume* vol_ = nullptr;
  int64_t records_ = 0;
};

TEST_P(MftOnRealVolume, MftBitmapIsTheOneLibntfs3gReads) {
  Open(false);
  ASSERT_NO_FATAL_FAILURE(LoadMft());
  const int64_t bytes = vol_->mftbmp_na->data_size;
  std::vector<uint8_t> expected(static_cast<size_t>(bytes));
  ASSERT_EQ(ntfs_attr_pread(vol_->mftbmp_na, 0, bytes, expected.data()), bytes);
  ASSERT_GE(static_cast<int64_t>(MftBitmap.size()), bytes);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), MftBitmap.data()));
  EXPECT_EQ(SeenRecords.size(), MftBitmap.size());
}

TEST_P(MftOnRealVolume, EveryRecordDecodedRawGivesLibntfs3gsExtents) {
  Open(false);
  ASSERT_NO_FATAL_FAILURE(LoadMft());
  ASSERT_NO_FATAL_FAILURE(DecodeEveryRecord());
}

// --- The same through the NTFS driver on a shared volume -----------------------------------

class MftThroughDriver : public MftOnRealVolume {
 protected:
  void SetUp() override {
    MftOnRealVolume::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    platform::RegisterBuiltinDrivers();
    if (!platform::HasFileSystemDriver("NTFS"))
      GTEST_SKIP() << "no NTFS file-system driver is registered";
    Open(true);
  }
};

TEST_P(MftThroughDriver, RecordsAreTheFixedUpRecordsLibntfs3gReads) {
  ASSERT_NO_FATAL_FAILURE(LoadMft());
  const int64_t size = vol_->mft_record_size;
  std::vector<uint8_t> expected(static_cast<size_t>(size));
  int compared = 0;
  for (int64_t n = 0; n < records_; ++n) {
    if (!Is_Active(Long(static_cast<int32_t>(n)))) continue;
    SCOPED_TRACE("record " + std::to_string(n));
    ByteArray got;
    ASSERT_TRUE(Read_FILE(got, Long(static_cast<int32_t>(n)))) << ErrorState.ErrorText;
    ASSERT_EQ(ntfs_mft_records_read(vol_, static_cast<MFT_REF>(n), 1,
                                    reinterpret_cast<MFT_RECORD*>(expected.data())),
              0);
    ASSERT_EQ(static_cast<int64_t>(got.size()), size);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.data()));
    ++compared;
  }
  EXPECT_GE(compared, 150);
}

TEST_P(MftThroughDriver, EveryRecordDecodedInSharedModeGivesLibntfs3gsExtents) {
  ASSERT_NO_FATAL_FAILURE(LoadMft());
  ASSERT_NO_FATAL_FAILURE(DecodeEveryRecord());
}

// The standard fixture's files, opened by path as the move engine opens them.
using RetrievalPointers = MftThroughDriver;

TEST_P(RetrievalPointers, GiveLibntfs3gsExtents) {
  const testsupport::NtfsFixture& fixture = testsupport::SharedNtfsFixture();
  FolderTable.ReDim(0);
  FolderTable(0) = {-1, "N:"};
  std::map<std::string, int> folders{{"", 0}};
  // The folder's index in FolderTable, its parents added first.
  std::function<int(const std::string&)> folderOf = [&](const std::string& folder) -> int {
    auto it = folders.find(folder);
    if (it != folders.end()) return it->second;
    const size_t cut = folder.rfind('\\');
    const int parent = folderOf(cut == std::string::npos ? "" : folder.substr(0, cut));
    const int64_t index = FolderTable.UBound() + 1;
    FolderTable.ReDimPreserve(index);
    FolderTable(index) = {static_cast<int16_t>(parent),
                          cut == std::string::npos ? folder : folder.substr(cut + 1)};
    return folders[folder] = static_cast<int>(index);
  };
  FileNames.ReDim(records_);
  FolderIndex.ReDim(records_);
  int checked = 0, sparse = 0;
  for (const testsupport::NtfsFixtureEntry& entry : fixture.Entries()) {
    if (entry.flags &
        (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream | testsupport::kNtfsHardLink))
      continue;
    std::vector<testsupport::LibntfsRun> runs;
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsRunlist(path_, entry.path, runs, error)) << error;
    if (runs.empty()) continue;  // resident data has no extents
    SCOPED_TRACE(entry.path);
    // The file's record and its folder in the tables ReadPtrs reads.
    std::string libPath = "/" + entry.path;
    for (char& c : libPath)
      if (c == '\\') c = '/';
    ntfs_inode* ni = ntfs_pathname_to_inode(vol_, nullptr, libPath.c_str());
    ASSERT_NE(ni, nullptr);
    const int64_t n = static_cast<int64_t>(ni->mft_no);
    ntfs_inode_close(ni);
    const size_t cut = entry.path.rfind('\\');
    const std::string folder = cut == std::string::npos ? "" : entry.path.substr(0, cut);
    FileNames(n) = entry.path.substr(cut == std::string::npos ? 0 : cut + 1);
    FolderIndex(n) = static_cast<int16_t>(folderOf(folder));

    std::vector<int64_t> lengths, lcns;
    bool holes = false;
    for (const testsupport::LibntfsRun& r : runs) {
      if (r.lcn >= 0) {
        lengths.push_back(r.length);
        lcns.push_back(r.lcn);
      } else {
        holes = true;
      }
    }
    const Segments expected = Joined(lengths, lcns);
    VbArray<Long> gotLengths, gotLcns;
    RecordInfo info;
    ReadPtrs(Long(static_cast<int32_t>(n)), gotLengths, gotLcns, info);
    ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
    ASSERT_NE(info.FileHandle, -1);
    nt::CloseHandle(info.FileHandle);
    // The segments come merged already.
    EXPECT_EQ(Column(gotLcns), expected.lcns);
    EXPECT_EQ(Column(gotLengths), expected.lengths);
    EXPECT_EQ(info.Clusters, expected.clusters);
    EXPECT_EQ(info.Compressed, holes ? -1 : 0);
    if (holes) ++sparse;
    ++checked;
  }
  EXPECT_GE(checked, 10);
  EXPECT_GE(sparse, 1);
  FileNames.ReDim(0);
  FolderIndex.ReDim(0);
  FolderTable.ReDim(0);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, MftOnRealVolume, testing::Values(4096, 512),
                         [](const testing::TestParamInfo<int>& p) {
                           return "Cluster" + std::to_string(p.param);
                         });
INSTANTIATE_TEST_SUITE_P(ClusterSizes, MftThroughDriver, testing::Values(4096, 512),
                         [](const testing::TestParamInfo<int>& p) {
                           return "Cluster" + std::to_string(p.param);
                         });
INSTANTIATE_TEST_SUITE_P(StandardFixture, RetrievalPointers, testing::Values(4096),
                         [](const testing::TestParamInfo<int>& p) {
                           return "Cluster" + std::to_string(p.param);
                         });

}  // namespace
}  // namespace vr::test
