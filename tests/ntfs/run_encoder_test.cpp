#include "ntfs/run_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ntfs/run_list.h"
#include "ntfs_test_support.h"

namespace vr::test {
namespace {

std::vector<uint8_t> Encode(const std::vector<RunExtent>& extents) {
  std::vector<uint8_t> out(static_cast<size_t>(EncodeRunList(extents, {}).Size));
  EXPECT_TRUE(EncodeRunList(extents, out).Fits);
  return out;
}

class RunEncoder : public NtfsTest {};

TEST_F(RunEncoder, SmallestSignedWidthsAndHolesWithoutOffsets) {
  // 16 clusters at 984 after a run at 1000: offset -16 in one byte.
  EXPECT_EQ(Encode({{0, 1000, 8}, {8, 984, 16}}),
            (std::vector<uint8_t>{0x21, 0x08, 0xE8, 0x03, 0x11, 0x10, 0xF0, 0x00}));
  // A length of 128 needs two bytes (0x80 alone would read as -128); a hole
  // has a length and no offset; the run after it counts from the last
  // located run.
  EXPECT_EQ(Encode({{0, 200, 128}, {128, kSparseLcn, 5}, {133, 200 - 129, 1}}),
            (std::vector<uint8_t>{0x22, 0x80, 0x00, 0xC8, 0x00, 0x01, 0x05, 0x21, 0x01, 0x7F, 0xFF,
                                  0x00}));
  EXPECT_EQ(SignedWidth(127), 1);
  EXPECT_EQ(SignedWidth(128), 2);
  EXPECT_EQ(SignedWidth(-129), 2);
  EXPECT_EQ(SignedWidth(-8388608), 3);
  EXPECT_EQ(SignedWidth(8388608), 4);
  EXPECT_EQ(SignedWidth(int64_t{1} << 40), 6);
  EXPECT_EQ(Encode({}), std::vector<uint8_t>{0x00});
}

TEST_F(RunEncoder, RoomIsWrittenOnlyWhenTheWholeListFits) {
  const std::vector<RunExtent> extents{{0, 5000, 300}, {300, 70000, 2}};
  const EncodedRuns need = EncodeRunList(extents, {});
  ASSERT_TRUE(need.Valid);
  EXPECT_EQ(need.Size, 1 + 2 + 2 + 1 + 1 + 3 + 1);
  EXPECT_FALSE(need.Fits);
  std::vector<uint8_t> tight(static_cast<size_t>(need.Size) - 1, 0xAA);
  EXPECT_FALSE(EncodeRunList(extents, tight).Fits);
  EXPECT_EQ(tight, std::vector<uint8_t>(tight.size(), 0xAA));
  std::vector<uint8_t> exact(static_cast<size_t>(need.Size), 0xAA);
  EXPECT_TRUE(EncodeRunList(extents, exact).Fits);
  EXPECT_EQ(exact.back(), 0x00);
}

TEST_F(RunEncoder, ExtentsThatAreNoRunListAreRefused) {
  std::vector<uint8_t> room(64, 0xAA);
  const std::vector<std::vector<RunExtent>> bad{
      {{0, 100, 0}},               // no clusters
      {{0, 100, 4}, {5, 200, 4}},  // a gap in the VCNs
      {{0, 100, 4}, {3, 200, 4}},  // overlapping VCNs
      {{0, -2, 4}},                // before cluster 0
      {{0, INT64_MAX - 1, 4}},     // ends past any volume
  };
  for (const auto& extents : bad) {
    const EncodedRuns r = EncodeRunList(extents, room);
    EXPECT_FALSE(r.Valid);
    EXPECT_FALSE(r.Fits);
    EXPECT_EQ(r.Size, 0);
  }
  EXPECT_EQ(room, std::vector<uint8_t>(64, 0xAA));
  // An extent record's share starts at its own lowest VCN.
  EXPECT_TRUE(EncodeRunList(std::vector<RunExtent>{{40, 100, 4}, {44, kSparseLcn, 4}}, room).Fits);
}

// Random lists of located runs (before and after the last, far and near)
// and holes, within the decoder's 32-bit range, read back by
// Decode_Segments as the same located runs and the same hole clusters.
TEST_F(RunEncoder, DecodeSegmentsReadsBackWhatWasEncoded) {
  VolumeSession.TotalClusters = 0x7FFFFFFF;
  std::mt19937_64 random(20261209);
  for (int round = 0; round < 2000; ++round) {
    std::vector<RunExtent> extents;
    int64_t vcn = 0;
    const int n = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < n; ++i) {
      const int64_t length = 1 + static_cast<int64_t>(random() % (i % 3 == 0 ? 0x100000 : 300));
      const bool hole = random() % 5 == 0;
      const int64_t lcn =
          hole ? kSparseLcn : static_cast<int64_t>(random() % (0x7FFFFFFF - length));
      extents.push_back({vcn, lcn, length});
      vcn += length;
    }
    const auto bytes = Encode(extents);
    VbArray<Long> lengths(10), lcns(10);
    Integer count = 0;
    Long clusters, sparse;
    ResetErrorState();
    Decode_Segments(count, Bytes(bytes), 0, Long(static_cast<int32_t>(bytes.size())), lengths, lcns,
                    clusters, sparse);
    ASSERT_EQ(Errors(), 0) << ErrorState.ErrorText << " round " << round;
    int64_t i = 0, located = 0, holes = 0;
    for (const RunExtent& e : extents) {
      if (e.Lcn == kSparseLcn) {
        holes += e.Length;
        continue;
      }
      ++i;
      located += e.Length;
      ASSERT_LE(i, int64_t{count.Value()});
      ASSERT_EQ(lengths(i), e.Length) << round;
      ASSERT_EQ(lcns(i), e.Lcn) << round;
    }
    ASSERT_EQ(i, int64_t{count.Value()});
    ASSERT_EQ(clusters, located);
    ASSERT_EQ(sparse, holes);
  }
}

}  // namespace
}  // namespace vr::test
