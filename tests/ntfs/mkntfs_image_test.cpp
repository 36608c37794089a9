// FILE records of real volumes made by mkntfs and written by libntfs-3g,
// read raw from the image file and decoded; every fact is checked against
// what libntfs-3g reads from the same volume.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

#include "libntfs_probe.h"
#include "ntfs/file_record.h"
#include "ntfs/index_block.h"
#include "ntfs/ntfs_geometry.h"
#include "ntfs/run_list.h"
#include "ntfs_test_support.h"
#include "platform/platform.h"
#include "support/volume_images.h"

namespace vr::test {
namespace {

struct Runs {
  std::vector<int64_t> lengths, lcns;
  int64_t clusters = 0, holes = 0;
};

// The located runs of an attribute as libntfs-3g maps them.
Runs LibRuns(ntfs_attr* na) {
  Runs r;
  EXPECT_EQ(ntfs_attr_map_whole_runlist(na), 0);
  for (runlist_element* rl = na->rl; rl && rl->length; ++rl) {
    if (rl->lcn >= 0) {
      r.lengths.push_back(rl->length);
      r.lcns.push_back(rl->lcn);
      r.clusters += rl->length;
    } else if (rl->lcn == LCN_HOLE) {
      r.holes += rl->length;
    }
  }
  return r;
}

bool HasNamedData(ntfs_inode* ni) {
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
  bool found = false;
  while (!found &&
         ntfs_attr_lookup(AT_UNUSED, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
    found = ctx->attr->type == AT_DATA && ctx->attr->name_length != 0;
  }
  ntfs_attr_put_search_ctx(ctx);
  return found;
}

// Adds files through libntfs-3g: a large file, a fragmented one (grown after
// another file took the clusters behind it), and a sparse one whose hole
// does not end on a 16-cluster unit.
void AddFiles(const std::string& path) {
  ntfs_volume* vol = ntfs_mount(path.c_str(), static_cast<ntfs_mount_flags>(0));
  ASSERT_NE(vol, nullptr);
  ntfs_inode* root = ntfs_inode_open(vol, FILE_root);
  ASSERT_NE(root, nullptr);
  std::vector<uint8_t> data(300000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  auto create = [&](const char* name) {
    ntfschar* uname = nullptr;
    const int len = ntfs_mbstoucs(name, &uname);
    ntfs_inode* ni = ntfs_create(root, const_cpu_to_le32(0), uname, static_cast<u8>(len), S_IFREG);
    free(uname);
    EXPECT_NE(ni, nullptr) << name;
    return ni;
  };
  auto write = [&](ntfs_inode* ni, int64_t pos, int64_t count) {
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    ASSERT_NE(na, nullptr);
    EXPECT_EQ(ntfs_attr_pwrite(na, pos, count, data.data()), count);
    ntfs_attr_close(na);
  };
  ntfs_inode* big = create("big.bin");
  write(big, 0, 300000);
  ntfs_inode* frag = create("frag.bin");
  write(frag, 0, 70000);
  ntfs_inode* other = create("other.bin");
  write(other, 0, 90000);
  write(frag, 70000, 120000);
  ntfs_inode* sparse = create("sparse.bin");
  write(sparse, 0, 5000);
  write(sparse, 37 * 4096 + 100, 9000);
  ntfs_inode* small = create("small.txt");
  write(small, 0, 40);
  for (ntfs_inode* ni : {big, frag, other, sparse, small}) ntfs_inode_close(ni);
  // Enough names for the root index to need several index blocks.
  for (int i = 0; i < 90; ++i) {
    const std::string name = "entry" + std::to_string(i) + ".txt";
    ntfs_inode_close(create(name.c_str()));
  }
  ntfs_inode_close(root);
  ASSERT_EQ(ntfs_umount(vol, FALSE), 0);
}

class MkntfsImage : public NtfsTest, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    path_ = testsupport::TempPath("records.img");
    std::string error;
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    ASSERT_TRUE(testsupport::MakeNtfsImage(path_, 32, GetParam(), "RECORDS", error)) << error;
    ASSERT_NO_FATAL_FAILURE(AddFiles(path_));
    image_ = testsupport::ReadFileBytes(path_);
    ASSERT_GE(image_.size(), 512u);
    vol_ = ntfs_mount(path_.c_str(), NTFS_MNT_RDONLY);
    ASSERT_NE(vol_, nullptr);

    // The geometry as the boot sector encodes it.
    const Bytes boot(image_.data(), 512);
    Set_Ntfs_Geometry(boot);
    VolumeSession.TotalClusters = static_cast<int32_t>(vol_->nr_clusters);
    ASSERT_EQ(VolumeSession.SectorsPerCluster * 512, static_cast<int32_t>(vol_->cluster_size));
    ASSERT_EQ(VolumeSession.SectorsPerFileRecord * 512,
              static_cast<int32_t>(vol_->mft_record_size));
    ASSERT_EQ(VolumeSession.SectorsPerIndexBlock * 512,
              static_cast<int32_t>(vol_->indx_record_size));
  }
  void TearDown() override {
    if (vol_) ntfs_umount(vol_, FALSE);
    NtfsTest::TearDown();
  }

  // Record n, read with plain file I/O through the $MFT's decoded segments.
  ByteArray RawRecord(int64_t n) {
    const int64_t recordBytes = VolumeSession.SectorsPerFileRecord * 512;
    const int64_t clusterBytes = VolumeSession.SectorsPerCluster * 512;
    ByteArray b(recordBytes - 1);
    for (int64_t i = 0; i < recordBytes; ++i) {
      int64_t vcn = (n * recordBytes + i) / clusterBytes;
      const int64_t within = (n * recordBytes + i) % clusterBytes;
      for (int64_t s = 1; s <= mftLengths_.UBound(); ++s) {
        if (vcn < mftLengths_(s)) {
          b(i) = image_.at(static_cast<size_t>((mftLcns_(s) + vcn) * clusterBytes + within));
          break;
        }
        vcn -= mftLengths_(s);
      }
    }
    return b;
  }

  void DecodeMft() {
    ByteArray b(VolumeSession.SectorsPerFileRecord * 512 - 1);
    const size_t at =
        static_cast<size_t>(VolumeSession.MftLcn) * VolumeSession.SectorsPerCluster * 512;
    std::copy(image_.begin() + static_cast<std::ptrdiff_t>(at),
              image_.begin() + static_cast<std::ptrdiff_t>(at + b.size()), b.data());
    usaOffset_ = U16(b.Span(), 4);
    Decode_FILE_Record(0, mftLengths_, mftLcns_, b, mftInfo_);
  }

  std::string path_;
  std::vector<uint8_t> image_;
  ntfs_volume* vol_ = nullptr;
  VbArray<Long> mftLengths_, mftLcns_;
  RecordInfo mftInfo_;
  int usaOffset_ = 0;
};

TEST_P(MkntfsImage, MftRecordGivesTheSegmentsLibntfs3gReports) {
  DecodeMft();
  EXPECT_EQ(usaOffset_, 0x30);  // NTFS 3.1 layout
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  const Runs data = LibRuns(vol_->mft_na);
  EXPECT_EQ(Column(mftLengths_), data.lengths);
  EXPECT_EQ(Column(mftLcns_), data.lcns);
  EXPECT_EQ(mftInfo_.Clusters, data.clusters);
  EXPECT_EQ(mftInfo_.Size, static_cast<int32_t>(vol_->mft_na->data_size));
  EXPECT_EQ(mftInfo_.Name, "$MFT");
  const Runs bitmap = LibRuns(vol_->mftbmp_na);
  EXPECT_EQ(Column(MftBitmapLengths), bitmap.lengths);
  EXPECT_EQ(Column(MftBitmapLcns), bitmap.lcns);
}

TEST_P(MkntfsImage, EveryBaseRecordDecodesAsLibntfs3gReadsIt) {
  DecodeMft();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  const int64_t records = vol_->mft_na->data_size / vol_->mft_record_size;
  int files = 0, folders = 0, sparseFiles = 0, fragmented = 0, dataless = 0;
  for (int64_t n = 0; n < records; ++n) {
    ntfs_inode* ni = ntfs_inode_open(vol_, static_cast<MFT_REF>(n));
    if (!ni) continue;  // not in use
    if (ni->mrec->base_mft_record != 0) {
      ntfs_inode_close(ni);
      continue;
    }
    SCOPED_TRACE("record " + std::to_string(n));
    ResetErrorState();
    ByteArray buffer = RawRecord(n);
    VbArray<Long> lengths, lcns;
    RecordInfo info;
    Decode_FILE_Record(Long(static_cast<int32_t>(n)), lengths, lcns, buffer, info);
    EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
    // No fault of any kind: a sparse file's holes need not end on 16-cluster
    // units (libntfs-3g leaves them where the data was written).
    EXPECT_EQ(ErrorState.ErrorText, "");
    EXPECT_EQ(ErrorState.RecordFault, 0);
    EXPECT_EQ(info.Name, n == 0 ? "$MFT" : FirstFileName(ni));

    const bool folder = ntfs_attr_exist(ni, AT_INDEX_ROOT, NTFS_INDEX_I30, 4);
    EXPECT_EQ(info.IsDirectory, folder ? -1 : 0);
    Runs expected;
    int64_t size = 0;
    bool resident = false;
    if (folder) {
      ++folders;
      if (ntfs_attr* na = ntfs_attr_open(ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)) {
        expected = LibRuns(na);
        size = na->allocated_size;
        ntfs_attr_close(na);
      }
    } else if (!HasUnnamedData(ni)) {
      ++dataless;
    } else if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)) {
      ++files;
      resident = !NAttrNonResident(na);
      if (!resident) expected = LibRuns(na);
      size = na->data_size;
      if (expected.holes) ++sparseFiles;
      if (expected.lengths.size() > 1) ++fragmented;
      EXPECT_EQ(info.Compressed, NAttrCompressed(na) ? -1 : 0);
      ntfs_attr_close(na);
    }
    EXPECT_EQ(info.Size, static_cast<int32_t>(size));
    EXPECT_EQ(info.ResidentData, resident && size > 0 ? -1 : 0);
    EXPECT_EQ(Column(lengths), expected.lengths);
    EXPECT_EQ(Column(lcns), expected.lcns);
    EXPECT_EQ(info.Clusters, expected.clusters);
    if (!resident && !folder && expected.holes) {
      EXPECT_EQ(info.SparseClusters, expected.holes);
    }
    ntfs_inode_close(ni);
  }
  // The volume holds what the checks are about.
  EXPECT_GE(folders, 2);  // the root and $Extend
  EXPECT_GE(files, 10);
  EXPECT_GE(sparseFiles, 1);
  EXPECT_GE(fragmented, 1);
  EXPECT_GE(dataless, 1);  // $Secure: named streams only
}

TEST_P(MkntfsImage, SecureHasIndexesButIsNotAFolder) {
  DecodeMft();
  ByteArray buffer = RawRecord(9);
  VbArray<Long> lengths, lcns;
  RecordInfo info;
  Decode_FILE_Record(9, lengths, lcns, buffer, info);
  ntfs_inode* ni = ntfs_inode_open(vol_, 9);
  ASSERT_NE(ni, nullptr);
  // Its views are indexes ($SDH, $SII) and its descriptors a named stream.
  ntfschar sdh[] = {const_cpu_to_le16('$'), const_cpu_to_le16('S'), const_cpu_to_le16('D'),
                    const_cpu_to_le16('H'), 0};
  EXPECT_TRUE(ntfs_attr_exist(ni, AT_INDEX_ROOT, sdh, 4));
  EXPECT_FALSE(ntfs_attr_exist(ni, AT_INDEX_ROOT, NTFS_INDEX_I30, 4));
  EXPECT_TRUE(HasNamedData(ni));
  EXPECT_FALSE(HasUnnamedData(ni));
  ntfs_inode_close(ni);
  EXPECT_EQ(info.Name, "$Secure");
  EXPECT_EQ(info.IsDirectory, 0);
  EXPECT_EQ(info.Size, 0);
  EXPECT_EQ(lengths.UBound(), 0);
}

TEST_P(MkntfsImage, RootIndexBlocksAreFoundByTheirVcn) {
  DecodeMft();
  ByteArray record = RawRecord(5);
  VbArray<Long> lengths, lcns;
  RecordInfo info;
  Decode_FILE_Record(5, lengths, lcns, record, info);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  ASSERT_EQ(info.IsDirectory, -1);
  ASSERT_GE(lengths.UBound(), 1);

  ntfs_inode* root = ntfs_inode_open(vol_, FILE_root);
  ASSERT_NE(root, nullptr);
  ntfs_attr* na = ntfs_attr_open(root, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4);
  ASSERT_NE(na, nullptr);
  const int64_t blockBytes = vol_->indx_record_size;
  const int64_t blocks = na->data_size / blockBytes;
  EXPECT_GE(blocks, 2);
  // Index-entry VCNs count clusters, or 512-byte units when a cluster is
  // larger than an index block.
  const int64_t vcnBytes = vol_->cluster_size <= blockBytes ? vol_->cluster_size : 512;

  platform::ResetPlatform();
  platform::MapMemoryDrive('r', std::make_shared<platform::MemoryDevice>(image_, true));
  VolumeSession.VolumeHandle = Open_Drive("r:", kAccessRead, 3);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  std::vector<uint8_t> expected(static_cast<size_t>(blockBytes));
  for (int64_t i = 0; i < blocks; ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    const int64_t vcn = i * blockBytes / vcnBytes;
    ByteArray block;
    ASSERT_TRUE(Read_INDX(Long(static_cast<int32_t>(vcn)), lengths, lcns, block))
        << ErrorState.ErrorText;
    EXPECT_EQ(I64(block.Span(), 0x10), vcn);  // the block's own VCN
    ASSERT_EQ(
        ntfs_attr_mst_pread(na, i * blockBytes, 1, static_cast<u32>(blockBytes), expected.data()),
        1);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.data()));
  }
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  Long handle = VolumeSession.VolumeHandle;
  Close_Drive(handle);
  VolumeSession.VolumeHandle = -1;
  platform::ResetPlatform();
  ntfs_attr_close(na);
  ntfs_inode_close(root);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, MkntfsImage, testing::Values(4096, 512, 1024, 8192),
                         [](const testing::TestParamInfo<int>& p) {
                           return "Cluster" + std::to_string(p.param);
                         });

}  // namespace
}  // namespace vr::test
