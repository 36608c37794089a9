// The update sequence and the run-list encoder on every FILE record of the
// fixture volume, against libntfs-3g: our fixups give the bytes libntfs-3g's
// give, libntfs-3g reads what our writer protected, and the mapping pairs of
// every non-resident attribute are encoded back byte for byte from the
// extents libntfs-3g decodes from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/mst.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/volume.h>
}

#include "ntfs/run_encoder.h"
#include "ntfs/run_list.h"
#include "ntfs_test_support.h"
#include "platform/ntfs_layout.h"
#include "platform/update_sequence.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr::test {
namespace {

// Every record of the fixture's MFT in use, as it lies on the disk.
class FixtureRecords : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    vol_ = ntfs_mount(testsupport::SharedNtfsFixture().Path().c_str(), NTFS_MNT_RDONLY);
    ASSERT_NE(vol_, nullptr);
    recordSize_ = vol_->mft_record_size;
    const int64_t count = vol_->mft_na->initialized_size / recordSize_;
    std::vector<uint8_t> bitmap(static_cast<size_t>(vol_->mftbmp_na->data_size));
    ASSERT_EQ(ntfs_attr_pread(vol_->mftbmp_na, 0, static_cast<s64>(bitmap.size()), bitmap.data()),
              static_cast<s64>(bitmap.size()));
    for (int64_t n = 0; n < count; ++n) {
      if (!((bitmap[static_cast<size_t>(n / 8)] >> (n % 8)) & 1)) continue;
      std::vector<uint8_t> raw(static_cast<size_t>(recordSize_));
      ASSERT_EQ(ntfs_attr_pread(vol_->mft_na, n * recordSize_, recordSize_, raw.data()),
                recordSize_);
      if (GetField(raw, kMagic) != kFileMagic) continue;
      records_.push_back(std::move(raw));
    }
    ASSERT_GT(records_.size(), 600u);
  }
  void TearDown() override {
    if (vol_ != nullptr) ntfs_umount(vol_, FALSE);
    NtfsTest::TearDown();
  }
  int64_t Sectors() const { return recordSize_ / 512; }

  ntfs_volume* vol_ = nullptr;
  int64_t recordSize_ = 0;
  std::vector<std::vector<uint8_t>> records_;
};

TEST_F(FixtureRecords, UpdateSequenceAgreesWithLibntfsBothWays) {
  for (const auto& raw : records_) {
    // Reading: the same bytes as libntfs-3g's fixup.
    auto ours = raw;
    auto theirs = raw;
    ASSERT_EQ(PostReadFixup(ours, Sectors()), kUsaIntact);
    ASSERT_EQ(ntfs_mst_post_read_fixup(reinterpret_cast<NTFS_RECORD*>(theirs.data()),
                                       static_cast<u32>(recordSize_)),
              0);
    ASSERT_EQ(ours, theirs);
    // Writing: the same protected bytes, the same next number.
    auto written = ours;
    ASSERT_TRUE(PreWriteFixup(written, Sectors()));
    ASSERT_EQ(ntfs_mst_pre_write_fixup(reinterpret_cast<NTFS_RECORD*>(theirs.data()),
                                       static_cast<u32>(recordSize_)),
              0);
    ASSERT_EQ(written, theirs);
    // libntfs-3g reads what our writer wrote, and gets the record back.
    ASSERT_EQ(ntfs_mst_post_read_fixup(reinterpret_cast<NTFS_RECORD*>(theirs.data()),
                                       static_cast<u32>(recordSize_)),
              0);
    PostWriteFixup(written, Sectors());
    ASSERT_EQ(written, theirs);
  }
}

// The extents libntfs-3g decodes from the attribute at `a` (one extent
// record's share of the attribute, from its lowest VCN).
std::vector<RunExtent> LibntfsExtents(ntfs_volume* vol, const ATTR_RECORD* a) {
  std::vector<RunExtent> extents;
  runlist_element* rl = ntfs_mapping_pairs_decompress(vol, a, nullptr);
  EXPECT_NE(rl, nullptr);
  for (runlist_element* r = rl; r != nullptr && r->length != 0; ++r) {
    if (r->lcn == LCN_RL_NOT_MAPPED) continue;  // before this record's lowest VCN
    extents.push_back({r->vcn, r->lcn == LCN_HOLE ? kSparseLcn : r->lcn, r->length});
  }
  free(rl);
  return extents;
}

TEST_F(FixtureRecords, EveryRunListIsEncodedBackExactly) {
  VolumeSession.TotalClusters = Long(vol_->nr_clusters);
  int64_t lists = 0, runs = 0, holes = 0, laterExtents = 0;
  for (auto& raw : records_) {
    ASSERT_EQ(PostReadFixup(raw, Sectors()), kUsaIntact);
    const Bytes rec(raw);
    const int64_t used = static_cast<int64_t>(GetField(rec, kRecordBytesInUse));
    for (int64_t at = static_cast<int64_t>(GetField(rec, kRecordFirstAttribute)); at < used;) {
      const uint32_t type = static_cast<uint32_t>(GetField(rec, kAttrType, at));
      const int64_t length = static_cast<int64_t>(GetField(rec, kAttrLength, at));
      if (type == kTypeEnd || length == 0) break;
      if (GetField(rec, kAttrNonResident, at) == 1) {
        const auto* a = reinterpret_cast<const ATTR_RECORD*>(raw.data() + at);
        const std::vector<RunExtent> extents = LibntfsExtents(vol_, a);
        const int64_t pairs = at + static_cast<int64_t>(GetField(rec, kAttrMappingPairsOffset, at));
        const int64_t room = at + length - pairs;
        std::vector<uint8_t> encoded(static_cast<size_t>(room), 0xEE);
        const EncodedRuns result = EncodeRunList(extents, encoded);
        ASSERT_TRUE(result.Valid && result.Fits) << "type " << type;
        ASSERT_TRUE(std::equal(encoded.begin(), encoded.begin() + result.Size, raw.begin() + pairs))
            << "type " << std::hex << type << " at " << at;
        // One byte less room than needed is reported, and nothing written.
        std::vector<uint8_t> tight(static_cast<size_t>(result.Size - 1), 0xEE);
        EXPECT_FALSE(EncodeRunList(extents, tight).Fits);
        EXPECT_EQ(tight, std::vector<uint8_t>(tight.size(), 0xEE));
        // Decode_Segments reads the same located runs back.
        VbArray<Long> lengths(10), lcns(10);
        Integer count = 0;
        Long clusters, sparse;
        ResetErrorState();
        Decode_Segments(count, Bytes(encoded), 0, Long(result.Size), lengths, lcns, clusters,
                        sparse);
        EXPECT_EQ(Errors(), 0) << ErrorState.ErrorText;
        int64_t i = 0, located = 0, hole = 0;
        for (const RunExtent& e : extents) {
          if (e.Lcn == kSparseLcn) {
            hole += e.Length;
            ++holes;
            continue;
          }
          ++i;
          located += e.Length;
          ASSERT_LE(i, int64_t{count.Value()});
          EXPECT_EQ(lengths(i), e.Length);
          EXPECT_EQ(lcns(i), e.Lcn);
        }
        EXPECT_EQ(i, int64_t{count.Value()});
        EXPECT_EQ(clusters, located);
        EXPECT_EQ(sparse, hole);
        ++lists;
        runs += static_cast<int64_t>(extents.size());
        if (!extents.empty() && extents[0].Vcn != 0) ++laterExtents;
      }
      at += length;
    }
  }
  // The fixture's variety was met: long lists, holes, extension records.
  EXPECT_GT(lists, 30);
  EXPECT_GT(runs, 800);
  EXPECT_GT(holes, 0);
  EXPECT_GT(laterExtents, 0);
}

}  // namespace
}  // namespace vr::test
