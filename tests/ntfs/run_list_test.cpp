#include "ntfs/run_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs_test_support.h"
#include "record_builder.h"

namespace vr::test {
namespace {

class RunList : public NtfsTest {
 protected:
  // Decodes `bytes` as one run list from offset 0 to its end.
  Integer Decode(const std::vector<uint8_t>& bytes, Integer count = 0) {
    count_ = count;
    return Decode_Segments(count_, Bytes(bytes), 0, Long(static_cast<int32_t>(bytes.size())),
                           lengths_, lcns_, clusters_, sparse_);
  }
  std::vector<int64_t> Lengths() const { return Trimmed(lengths_); }
  std::vector<int64_t> Lcns() const { return Trimmed(lcns_); }
  std::vector<int64_t> Trimmed(const VbArray<Long>& a) const {
    std::vector<int64_t> out;
    for (int64_t i = 1; i <= count_; ++i) out.push_back(a(i));
    return out;
  }

  Integer count_;
  VbArray<Long> lengths_{10}, lcns_{10};
  Long clusters_, sparse_;
};

// --- Decoding -------------------------------------------------------------

TEST_F(RunList, OffsetsAreRelativeToThePreviousRunAndSignExtended) {
  // 8 clusters at 1000, then 16 clusters at 1000 - 16 (offset byte 0xF0).
  const std::vector<uint8_t> bytes = {0x21, 0x08, 0xE8, 0x03, 0x11, 0x10, 0xF0, 0x00};
  EXPECT_EQ(Decode(bytes), 2);
  EXPECT_EQ(Lengths(), (std::vector<int64_t>{8, 16}));
  EXPECT_EQ(Lcns(), (std::vector<int64_t>{1000, 984}));
  EXPECT_EQ(clusters_, 24);
  EXPECT_EQ(sparse_, 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

struct SignCase {
  int width;
  int64_t delta;
};
// Test listings show the case, not its bytes.
void PrintTo(const SignCase& c, std::ostream* os) {
  *os << "width " << c.width << ", delta " << c.delta;
}
class RunListSign : public RunList, public testing::WithParamInterface<SignCase> {};

TEST_P(RunListSign, NegativeDeltaOfEachWidthFromItsTopBit) {
  VolumeSession.TotalClusters = 0x7FFFFFFF;
  const int64_t start = 0x40000000;
  const SignCase c = GetParam();
  std::vector<uint8_t> bytes = {0x41};
  Put(bytes, 1, 1, 1);
  Put(bytes, 2, static_cast<uint64_t>(start), 4);
  bytes.push_back(static_cast<uint8_t>(c.width * 16 + 1));
  bytes.push_back(1);
  for (int i = 0; i < c.width; ++i) bytes.push_back(static_cast<uint8_t>(c.delta >> (8 * i)));
  bytes.push_back(0);
  ASSERT_EQ(Decode(bytes), 2);
  EXPECT_EQ(Lcns()[1], start + c.delta);
  EXPECT_EQ(Errors(), 0);
}
INSTANTIATE_TEST_SUITE_P(Widths, RunListSign,
                         testing::Values(SignCase{1, -128}, SignCase{1, 127}, SignCase{2, -32768},
                                         SignCase{2, 0x7FFF}, SignCase{3, -0x800000},
                                         SignCase{3, 0x7FFFFF}, SignCase{4, -0x3FFFFFFF},
                                         SignCase{1, -1}),
                         [](const testing::TestParamInfo<SignCase>& p) {
                           const int64_t d = p.param.delta;
                           return "Width" + std::to_string(p.param.width) +
                                  (d < 0 ? "Minus" : "Plus") + std::to_string(d < 0 ? -d : d);
                         });

TEST_F(RunList, SparseRunsAreCountedNotStored) {
  const auto bytes = EncodeRuns({{5, 200}, {7, -1}, {3, 300}});
  EXPECT_EQ(Decode(bytes), 2);
  EXPECT_EQ(Lengths(), (std::vector<int64_t>{5, 3}));
  EXPECT_EQ(Lcns(), (std::vector<int64_t>{200, 300}));
  EXPECT_EQ(clusters_, 8);
  EXPECT_EQ(sparse_, 7);
  EXPECT_EQ(RunVcn, 15);
}

TEST_F(RunList, RunLandingOnClusterMinusOneIsStoredButHasNoClusters) {
  // 4 clusters at 10, then 3 at 10 - 11 = -1.
  Decode({0x11, 0x04, 0x0A, 0x11, 0x03, 0xF5, 0x00});
  EXPECT_EQ(Lcns(), (std::vector<int64_t>{10, -1}));
  EXPECT_EQ(clusters_, 4);
  EXPECT_EQ(RunVcn, 4);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(RunList, ExtentsAppendAndKeepTheVcnAcrossCalls) {
  EXPECT_EQ(Decode(EncodeRuns({{10, 500}, {6, -1}})), 1);
  // The next extent starts from an absolute offset again.
  EXPECT_EQ(Decode(EncodeRuns({{4, 800}}), count_), 2);
  EXPECT_EQ(Lcns(), (std::vector<int64_t>{500, 800}));
  EXPECT_EQ(RunVcn, 20);
  EXPECT_EQ(clusters_, 4);  // per call
  // A call with no segments yet starts the attribute over.
  Decode(EncodeRuns({{2, 900}}));
  EXPECT_EQ(RunVcn, 2);
}

TEST_F(RunList, ArraysGrowPastTheirBoundsKeepingContents) {
  std::vector<RunSpec> runs;
  for (int i = 0; i < 130; ++i) runs.push_back({1, 10 + 3 * i});
  EXPECT_EQ(Decode(EncodeRuns(runs)), 130);
  EXPECT_GE(lengths_.UBound(), 130);
  EXPECT_EQ(Lcns().front(), 10);
  EXPECT_EQ(Lcns().back(), 10 + 3 * 129);
  EXPECT_EQ(Errors(), 0);
}

// --- Compression units ------------------------------------------------------

TEST_F(RunList, AlignedCompressionUnitLeavesNoMark) {
  Decode(EncodeRuns({{12, 100}, {4, -1}, {16, 200}}));
  EXPECT_FALSE(MarkPending());
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(RunList, UnalignedCompressionUnitSetsTheMarkWithoutCountingAnError) {
  Decode(EncodeRuns({{10, 100}, {4, -1}, {16, 200}}));
  EXPECT_TRUE(MarkPending());
  EXPECT_EQ(Errors(), 0);
  EXPECT_EQ(ErrorState.Failed, 0);
}

TEST_F(RunList, AlignmentIsCheckedOnlyAfterLocatedAndSparseRuns) {
  // Located runs of any length in a row are not compression units.
  Decode(EncodeRuns({{10, 100}, {3, 200}, {7, 300}}));
  EXPECT_FALSE(MarkPending());
  // A sparse run first, then located runs: the located run after the sparse
  // one is the first located run, nothing to check yet.
  Decode(EncodeRuns({{5, -1}, {3, 200}}));
  EXPECT_FALSE(MarkPending());
}

// --- Faults -------------------------------------------------------------------

TEST_F(RunList, RunEndingAtTheLastClusterIsAccepted) {
  VolumeSession.TotalClusters = 1000;
  Decode(EncodeRuns({{10, 990}}));
  EXPECT_EQ(count_, 1);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(RunList, RunEndingOneClusterPastTheVolumeIsBlkErr) {
  VolumeSession.TotalClusters = 1000;
  Decode(EncodeRuns({{5, 100}, {11, 990}}));
  EXPECT_EQ(ErrorState.ErrorText, "BlkErr");
  EXPECT_EQ(Errors(), 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(Lcns(), (std::vector<int64_t>{100}));  // the run before stays
}

TEST_F(RunList, RunStartingBeforeClusterZeroIsBlkErr) {
  // 4 clusters at 10, then an offset of -20.
  Decode({0x11, 0x04, 0x0A, 0x11, 0x04, 0xEC, 0x00});
  EXPECT_EQ(ErrorState.ErrorText, "BlkErr");
  EXPECT_EQ(count_, 1);
}

TEST_F(RunList, ListCutOffWithoutTerminatorIsSegNoEnd) {
  Decode(EncodeRuns({{5, 100}, {6, 200}}, /*terminate=*/false));
  EXPECT_EQ(ErrorState.ErrorText, "SegNoEnd");
  EXPECT_EQ(count_, 2);
  EXPECT_EQ(Errors(), 1);
}

TEST_F(RunList, EmptyRangeHasNoTerminatorEither) {
  std::vector<uint8_t> bytes = {0x00};
  count_ = 0;
  Decode_Segments(count_, Bytes(bytes), 0, 0, lengths_, lcns_, clusters_, sparse_);
  EXPECT_EQ(ErrorState.ErrorText, "SegNoEnd");
}

TEST_F(RunList, SegNoEndIsNotReportedAfterAnEarlierError) {
  Set_Error("earlier");
  Decode(EncodeRuns({{5, 100}}, false));
  EXPECT_EQ(ErrorState.ErrorText, "earlier");
  EXPECT_EQ(Errors(), 1);
}

TEST_F(RunList, FieldWiderThanFourBytesIsSegErr) {
  Decode({0x15, 1, 0, 0, 0, 0, 0x01, 0x00});
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  ResetErrorState();
  Decode({0x51, 1, 1, 0, 0, 0, 0, 0x00});
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
}

TEST_F(RunList, RunNotFittingBeforeTheEndIsSegErr) {
  // The run's last byte would be at the end offset itself.
  const std::vector<uint8_t> bytes = {0x21, 0x05, 0x10, 0x00};
  count_ = 0;
  Decode_Segments(count_, Bytes(bytes), 0, 3, lengths_, lcns_, clusters_, sparse_);
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  EXPECT_EQ(count_, 0);
}

TEST_F(RunList, RunWithoutClustersIsSegErr) {
  Decode({0x11, 0x00, 0x10, 0x00});  // length 0
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  ResetErrorState();
  Decode({0x10, 0x10, 0x00});  // no length bytes
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  ResetErrorState();
  Decode({0x14, 0x00, 0x00, 0x00, 0x80, 0x10, 0x00});  // negative 4-byte length
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  EXPECT_EQ(count_, 0);
}

TEST_F(RunList, FirstTextWinsOverALaterRunFault) {
  Rec_Error("FILE", {});
  Decode({0x15, 1, 0, 0, 0, 0, 0x01, 0x00});
  EXPECT_EQ(ErrorState.ErrorText, "FILE");
  EXPECT_EQ(Errors(), 2);
}

TEST_F(RunList, ReadPastTheBufferIsTrappedAsSegments) {
  // End lies beyond the buffer and the list has no terminator.
  const std::vector<uint8_t> bytes = {0x11, 0x04, 0x10};
  count_ = 0;
  Decode_Segments(count_, Bytes(bytes), 0, 50, lengths_, lcns_, clusters_, sparse_);
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(ErrorState.ErrorWhere, "Segments");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Errors(), 1);
  EXPECT_EQ(count_, 1);
}

TEST_F(RunList, SegmentCountOverflowIsTrapped) {
  VolumeSession.TotalClusters = 0x7FFFFFFF;
  std::vector<RunSpec> runs;
  for (int i = 0; i < 40000; ++i) runs.push_back({1, 2 * i});
  Decode(EncodeRuns(runs));
  EXPECT_EQ(ErrorState.ErrorText, "Overflow");
  EXPECT_EQ(ErrorState.ErrorWhere, "Segments");
  EXPECT_EQ(count_, 32767);
}

// --- Fragments ---------------------------------------------------------------

TEST_F(RunList, TouchingSegmentsAreOneFragment) {
  VbArray<Long> lengths(3), lcns(3);
  lengths(1) = 10, lcns(1) = 100;
  lengths(2) = 5, lcns(2) = 110;  // touches
  lengths(3) = 5, lcns(3) = 200;  // gap
  EXPECT_EQ(Count_Fragments(lengths, lcns), 2);
  lcns(3) = 115;
  EXPECT_EQ(Count_Fragments(lengths, lcns), 1);
  lcns(2) = 90;  // backwards
  EXPECT_EQ(Count_Fragments(lengths, lcns), 3);
}

TEST_F(RunList, EmptyAndSingleListsAreOneFragment) {
  VbArray<Long> lengths(0), lcns(0);
  EXPECT_EQ(Count_Fragments(lengths, lcns), 1);
  lengths.ReDim(1), lcns.ReDim(1);
  lengths(1) = 7, lcns(1) = 3;
  EXPECT_EQ(Count_Fragments(lengths, lcns), 1);
}

// --- Writing runs ----------------------------------------------------------------

struct WidthCase {
  int32_t value;
  int width;
  std::vector<uint8_t> bytes;
};
void PrintTo(const WidthCase& c, std::ostream* os) {
  *os << "value " << c.value << ", width " << c.width;
}
class PutNumWidth : public RunList, public testing::WithParamInterface<WidthCase> {};

TEST_P(PutNumWidth, SmallestSignedWidth) {
  const WidthCase c = GetParam();
  std::vector<uint8_t> buf(8, 0xAA);
  Integer width = 0;
  EXPECT_EQ(Put_Num_Width(MutableBytes(buf), c.value, 2, width), c.width);
  EXPECT_EQ(width, c.width);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 2, buf.begin() + 2 + c.width), c.bytes);
  EXPECT_EQ(buf[2 + c.width], 0xAA);  // nothing written beyond
  EXPECT_EQ(buf[1], 0xAA);
}
INSTANTIATE_TEST_SUITE_P(
    Boundaries, PutNumWidth,
    testing::Values(WidthCase{0, 1, {0x00}}, WidthCase{127, 1, {0x7F}},
                    WidthCase{128, 2, {0x80, 0x00}}, WidthCase{-128, 1, {0x80}},
                    WidthCase{-129, 2, {0x7F, 0xFF}}, WidthCase{-1, 1, {0xFF}},
                    WidthCase{255, 2, {0xFF, 0x00}}, WidthCase{32767, 2, {0xFF, 0x7F}},
                    WidthCase{32768, 3, {0x00, 0x80, 0x00}}, WidthCase{-32768, 2, {0x00, 0x80}},
                    WidthCase{-32769, 3, {0xFF, 0x7F, 0xFF}},
                    WidthCase{8388607, 3, {0xFF, 0xFF, 0x7F}},
                    WidthCase{8388608, 4, {0x00, 0x00, 0x80, 0x00}},
                    WidthCase{-8388609, 4, {0xFF, 0xFF, 0x7F, 0xFF}},
                    WidthCase{INT32_MIN, 4, {0x00, 0x00, 0x00, 0x80}}),
    [](const testing::TestParamInfo<WidthCase>& p) {
      const int64_t v = p.param.value;
      return (v < 0 ? "Minus" : "Plus") + std::to_string(v < 0 ? -v : v);
    });

TEST_F(RunList, PutNumWritesTheLowBytes) {
  std::vector<uint8_t> buf(6, 0);
  Put_Num(MutableBytes(buf), 0x12345678, 1, 3);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0, 0x78, 0x56, 0x34, 0, 0}));
  Put_Num(MutableBytes(buf), -2, 4, 2);
  EXPECT_EQ(buf[4], 0xFE);
  EXPECT_EQ(buf[5], 0xFF);
}

TEST_F(RunList, PutRunWritesHeaderLengthAndOffset) {
  std::vector<uint8_t> buf(16, 0xCC);
  EXPECT_EQ(Put_Run(MutableBytes(buf), 3, 200, -16), 3 + 1 + 2 + 1);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 3, buf.begin() + 7),
            (std::vector<uint8_t>{0x12, 0xC8, 0x00, 0xF0}));
}

TEST_F(RunList, PutRunIntoTooSmallBufferRaisesInsteadOfWritingPastIt) {
  std::vector<uint8_t> buf(3, 0);
  EXPECT_THROW(Put_Run(MutableBytes(buf), 0, 100000, 5), RunError);
}

TEST_F(RunList, RunsWrittenWithPutRunDecodeToTheSameSegments) {
  VolumeSession.TotalClusters = 0x7FFFFFFF;
  // Deterministic spread of lengths and positions with large backward jumps.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  std::vector<int64_t> lengths, lcns;
  for (int i = 0; i < 300; ++i) {
    lengths.push_back(1 + (next() >> 8) % (i % 7 == 0 ? 0x1000000 : 300));
    lcns.push_back((next() >> 2) % 0x40000000);
  }
  std::vector<uint8_t> buf(300 * 9 + 1, 0xEE);
  Long pos = 0;
  int64_t prev = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    pos = Put_Run(MutableBytes(buf), pos, Long(lengths[i]), Long(lcns[i] - prev));
    prev = lcns[i];
  }
  buf[static_cast<size_t>(pos.Value())] = 0;
  count_ = 0;
  Decode_Segments(count_, Bytes(buf), 0, pos + 1, lengths_, lcns_, clusters_, sparse_);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(Lengths(), lengths);
  EXPECT_EQ(Lcns(), lcns);
}

}  // namespace
}  // namespace vr::test
