// The cross-checks of the volume's bitmaps against what the scan found, and
// marking runs in the computed bitmap.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cluster_map_test_support.h"
#include "map/map_canvas.h"
#include "map/map_colors.h"
#include "map/map_geometry.h"
#include "map/recording_canvas.h"
#include "map/swatches.h"
#include "ntfs/cluster_map.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "record_builder.h"
#include "support/run_errors.h"
#include "volume/recording_window.h"
#include "volume/report.h"

namespace vr::test {
namespace {

class BitmapCheck : public ClusterMapTest {
 protected:
  void SetUp() override {
    ClusterMapTest::SetUp();
    SetMainWindow(&window_);
    Create_Swatches();
    canvas_.Reset(MapWidth(), MapHeight());
    previous_ = SetPicMap(&canvas_);
    MftBitmapLengths.ReDim(0);
    MftBitmapLcns.ReDim(0);
  }
  void TearDown() override {
    SetPicMap(previous_);
    SetMainWindow(nullptr);
    BoxColors.ReDim(0);
    ClustersPerBox = 1;
    Allocation.ComputedBitmap.ReDim(0);
    MftBitmapLengths.ReDim(0);
    MftBitmapLcns.ReDim(0);
    ClusterMapTest::TearDown();
  }

  // A volume and its map; the computed bitmap agrees with the volume's.
  void Agreeing(int64_t clusters) {
    Volume(clusters);
    Free(1000, clusters - 2000);
    VolumeSession.TotalClusters = Long(clusters);
    ClustersPerBox = Integer(clusters / BoxCount + 1);
    BoxColors.ReDim(clusters / ClustersPerBox + 1);
    for (int64_t b = 0; b <= BoxColors.UBound(); ++b) BoxColors(b) = kColorFile;
    Allocation.ComputedBitmap = Allocation.VolumeBitmap;
  }
  static void SetComputed(int64_t c, bool on) {
    if (on) {
      Allocation.ComputedBitmap(c / 8) |= static_cast<uint8_t>(1u << (c % 8));
    } else {
      Allocation.ComputedBitmap(c / 8) &= static_cast<uint8_t>(~(1u << (c % 8)));
    }
  }
  // Black blocks drawn at the box of cluster c.
  int MarksAt(int64_t c) const {
    const Long box = BoxOfCluster(Long(c));
    int n = 0;
    for (const auto& b : canvas_.blocks) {
      if (b.x != BoxLeft(box) || b.y != BoxTop(box)) continue;
      bool black = true;
      for (uint8_t colour : b.colours) black = black && colour == 0;
      n += black;
    }
    return n;
  }
  std::vector<std::string> Lines() const { return window_.LineTexts(); }

  RecordingMainWindow window_;
  RecordingCanvas canvas_;
  MapCanvas* previous_ = nullptr;
};

TEST_F(BitmapCheck, DifferencesCountsEachDifferingBitByItsSide) {
  Volume(64);
  Allocation.ComputedBitmap.ReDim(7);
  Allocation.VolumeBitmap(3) = 0b10101100;
  Allocation.ComputedBitmap(3) = 0b01100101;
  Long extra = 5, less = 1;  // counts go on from where they are
  Differences(3, extra, less);
  EXPECT_EQ(extra, 5 + 2);  // bits 3 and 7: in use, owned by nothing
  EXPECT_EQ(less, 1 + 2);   // bits 0 and 6: owned, but free in the volume
}

TEST_F(BitmapCheck, AgreeingBitmapsGiveNoDifferenceAndNoMark) {
  Agreeing(20000);
  Long excess = -1, unmarked = -1;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  EXPECT_EQ(excess, 0);
  EXPECT_EQ(unmarked, 0);
  for (const auto& b : canvas_.blocks)
    for (uint8_t colour : b.colours) EXPECT_NE(colour, 0);
}

TEST_F(BitmapCheck, CountsExcessAndUnmarkedAndMarksTheirBoxesBlack) {
  Agreeing(20000);
  SetComputed(500, false);  // allocated, nobody's
  SetComputed(501, false);
  SetComputed(19507, false);
  SetComputed(3000, true);  // someone's, but free
  Long excess, unmarked;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  EXPECT_EQ(excess, 3);
  EXPECT_EQ(unmarked, 1);
  EXPECT_EQ(MarksAt(496), 1);  // one mark per differing byte, at its first cluster
  EXPECT_EQ(MarksAt(19504), 1);
  EXPECT_EQ(MarksAt(3000), 1);
  // The mark does not change what the box stands for.
  EXPECT_EQ(BoxColors(BoxOfCluster(500)), kColorFile);
}

TEST_F(BitmapCheck, MftBitmapRunsAreOwnedAndPaintedFixed) {
  Agreeing(20000);
  for (int64_t c = 700; c < 716; ++c) SetComputed(c, false);
  MftBitmapLengths.ReDim(1);
  MftBitmapLcns.ReDim(1);
  MftBitmapLengths(1) = 16;
  MftBitmapLcns(1) = 700;
  Long excess, unmarked;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  EXPECT_EQ(excess, 0);
  EXPECT_EQ(unmarked, 0);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 700, 16), 16);
  EXPECT_EQ(BoxColors(BoxOfCluster(700)), kColorFixed);
}

TEST_F(BitmapCheck, BitsBeyondTheLastClusterAreNotCompared) {
  Agreeing(20003);                       // the last byte stands for three clusters
  Allocation.VolumeBitmap(2500) = 0xFF;  // padding set, as NTFS keeps it
  Allocation.ComputedBitmap(2500) = 0x07;
  Long excess, unmarked;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  EXPECT_EQ(excess, 0);
  Allocation.ComputedBitmap(2500) = 0x03;  // the last cluster itself still counts
  Bitmap_Vs_Bitmapx(excess, unmarked);
  EXPECT_EQ(excess, 1);
}

TEST_F(BitmapCheck, ComputedBitmapShorterThanTheVolumeIsARecordedError) {
  Agreeing(20000);
  Allocation.ComputedBitmap.ReDim(100);
  Long excess, unmarked;
  Bitmap_Vs_Bitmapx(excess, unmarked);
  EXPECT_EQ(ErrorState.ErrorText, "Subscript out of range");
  EXPECT_EQ(ErrorState.ErrorWhere, "Bitmap_Vs_Bitmapx");
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(BitmapCheck, HealthyVolumeReportsNothing) {
  Agreeing(20000);
  Checking_Bitmaps();
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(ErrorState.Failed, 0);
}

TEST_F(BitmapCheck, ExcessIsInformationOnly) {
  Agreeing(20000);
  SetComputed(500, false);
  SetComputed(19600, false);
  Checking_Bitmaps();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Bitmap: excess=2"}));
  ASSERT_EQ(window_.Lines().size(), 1u);
  EXPECT_NE(window_.Lines()[0].pieces.at(0).colour, kLightRed);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(ErrorState.Failed, 0);
  EXPECT_EQ(ErrorState.RecordFault, 0);
}

TEST_F(BitmapCheck, UnmarkedStopsTheRun) {
  Agreeing(20000);
  SetComputed(3000, true);
  SetComputed(3009, true);
  SetComputed(500, false);
  Checking_Bitmaps();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Bitmap: excess=1", "Bitmap: unmarked=2"}));
  ASSERT_EQ(window_.Lines().size(), 2u);
  EXPECT_EQ(window_.Lines()[1].pieces.at(0).colour, kLightRed);
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(ErrorState.ErrorText, "");  // the line said it; the summary adds the advice
}

TEST_F(BitmapCheck, PendingErrorReportsNothingButStops) {
  Agreeing(20000);
  SetComputed(3000, true);
  ErrorState.ErrorCount = 1;
  ErrorState.ErrorText = "Error reading drive";
  Checking_Bitmaps();
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
}

TEST_F(BitmapCheck, StoppedRunReportsNothing) {
  Agreeing(20000);
  SetComputed(3000, true);
  ErrorState.Failed = -1;  // Esc
  Checking_Bitmaps();
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

// --- Marking runs --------------------------------------------------------------------------

using MarkRuns = ClusterMapTest;

TEST_F(MarkRuns, MarkUsedSetsExactlyTheRun) {
  for (auto [start, length] : std::vector<std::pair<int64_t, int64_t>>{
           {0, 1}, {3, 5}, {3, 6}, {8, 8}, {13, 30}, {16, 64}, {7, 1}}) {
    ByteArray bitmap(15);
    Mark_Used(bitmap, Long(start), Long(length));
    for (int64_t c = 0; c < 128; ++c)
      EXPECT_EQ((bitmap(c / 8) >> (c % 8)) & 1, c >= start && c < start + length ? 1 : 0)
          << start << "+" << length << " at " << c;
  }
}

TEST_F(MarkRuns, MarkUsedBeyondTheBitmapIsASubscriptError) {
  ByteArray bitmap(3);
  EXPECT_EQ(testsupport::ErrorOf([&] { Mark_Used(bitmap, 30, 3); }), kErrSubscript);
}

TEST_F(MarkRuns, MarkRunTakesOnlyLocatedRunsInsideTheBitmap) {
  Allocation.ComputedBitmap.ReDim(127);  // 1024 clusters
  Mark_Run(0, 10);                       // not located
  Mark_Run(-5, 10);
  Mark_Run(1020, 5);  // ends beyond the bitmap
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 0, 1024), 0);
  Mark_Run(1020, 4);
  Mark_Run(17, 3);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 0, 1024), 7);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 17, 3), 3);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 1020, 4), 4);
}

TEST_F(MarkRuns, MarkRunsTakesEverySegmentAndNothingInSharedMode) {
  Allocation.ComputedBitmap.ReDim(127);
  VbArray<Long> lengths(3), lcns(3);
  lengths(1) = 4, lcns(1) = 100;
  lengths(2) = 2, lcns(2) = 0;  // a bad-cluster entry without a place
  lengths(3) = 9, lcns(3) = 500;
  VolumeSession.SharedMode = -1;
  Mark_Runs(lengths, lcns);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 0, 1024), 0);
  VolumeSession.SharedMode = 0;
  Mark_Runs(lengths, lcns);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 0, 1024), 13);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 500, 9), 9);
}

TEST_F(MarkRuns, MarkRunClaimsWithTheCrossLinkTest) {
  Allocation.ComputedBitmap.ReDim(127);
  EXPECT_EQ(Mark_Run(100, 20), kClaimFree);
  // A second owner of clusters 105 .. 114: the first shared cluster is
  // answered, and the run is marked all the same.
  EXPECT_EQ(Mark_Run(105, 10), 105);
  EXPECT_EQ(Mark_Run(118, 3), 118);  // 120 is new
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 100, 20), 20);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 105, 5), 5);
  // Runs left out (not located, past the bitmap) claim nothing.
  EXPECT_EQ(Mark_Run(0, 200), kClaimFree);
  EXPECT_EQ(Mark_Run(1020, 8), kClaimFree);
  VbArray<Long> lengths(3), lcns(3);
  lengths(1) = 4, lcns(1) = 300;
  lengths(2) = 3, lcns(2) = 119;  // into the first run: its cluster 119
  lengths(3) = 2, lcns(3) = 301;  // into this list's own first segment
  EXPECT_EQ(Mark_Runs(lengths, lcns), 119);
  EXPECT_EQ(Count_Used(Allocation.ComputedBitmap, 0, 1024), 21 + 4 + 1);  // 121 is new
  lengths.ReDim(1), lcns.ReDim(1);
  lengths(1) = 6, lcns(1) = 600;
  EXPECT_EQ(Mark_Runs(lengths, lcns), kClaimFree);
  // Shared, the computed bitmap is not kept: nothing is claimed or answered.
  VolumeSession.SharedMode = -1;
  EXPECT_EQ(Mark_Run(100, 20), kClaimFree);
  VolumeSession.SharedMode = 0;
}

// --- Records in use that the walk never reached (shared volumes) ---------------------------

class UnreferencedRecords : public ClusterMapTest {
 protected:
  void SetUp() override {
    ClusterMapTest::SetUp();
    // 16 clusters of 8 sectors, records of 2 sectors: 64 records.
    VolumeSession.MftRunLengths.ReDim(1);
    VolumeSession.MftRunLcns.ReDim(1);
    VolumeSession.MftRunLengths(1) = 16;
    VolumeSession.MftRunLcns(1) = 40;
    VolumeSession.SharedMode = -1;
    MftBitmap.ReDim(7);
    SeenRecords.ReDim(7);
    for (int64_t k = 0; k <= 7; ++k) MftBitmap(k) = SeenRecords(k) = 0;
    MftBitmap(0) = MftBitmap(1) = SeenRecords(0) = SeenRecords(1) = 0xFF;
    Read_FILE_Hook = [this](ByteArray& buffer, Long number) {
      read_.push_back(number);
      RecordBuilder r;
      r.StandardInformation(0).FileName(u"lost " + std::u16string(1, u'a' + number % 26) + u".txt");
      buffer = r.Array();
      if (number == reserved_) buffer(0x16) = 0;   // header: not in use
      if (number == extension_) buffer(0x20) = 5;  // an extension of record 5
      return true;
    };
  }
  void TearDown() override {
    Install_MFT_Hooks();
    VolumeSession.MftRunLengths.ReDim(0);
    VolumeSession.MftRunLcns.ReDim(0);
    ClusterMapTest::TearDown();
  }
  static void InUse(int64_t r) { MftBitmap(r / 8) |= static_cast<uint8_t>(1u << (r % 8)); }
  static void Seen(int64_t r) { SeenRecords(r / 8) |= static_cast<uint8_t>(1u << (r % 8)); }
  std::vector<int64_t> read_;
  int64_t reserved_ = -1, extension_ = -1;
};

TEST_F(UnreferencedRecords, EveryRecordInUseSeenIsFine) {
  for (int64_t r : {16, 17, 30, 63}) {
    InUse(r);
    Seen(r);
  }
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(ErrorState.Failed, 0);
  EXPECT_TRUE(read_.empty());
}

TEST_F(UnreferencedRecords, FirstRecordInUseNotSeenStopsTheSession) {
  InUse(16);
  Seen(16);
  InUse(29);  // 29 = 'd'
  InUse(45);
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorText, "Unref. file 29 lost d.txt");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(read_, (std::vector<int64_t>{29}));
}

TEST_F(UnreferencedRecords, ReservedAndExtensionRecordsAreNoUnreferencedFiles) {
  reserved_ = 17;
  extension_ = 18;
  InUse(17);
  InUse(18);
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  InUse(40);  // a file after them is still found
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorText, "Unref. file 40 lost o.txt");
}

TEST_F(UnreferencedRecords, SystemRecordsBelowSixteenAreNotCompared) {
  SeenRecords(0) = 0x01;
  SeenRecords(1) = 0x00;
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(UnreferencedRecords, RecordSeenButNotInUseIsNoUnreferencedFile) {
  Seen(20);
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_TRUE(read_.empty());
}

TEST_F(UnreferencedRecords, BitsBeyondTheMftAreNotRecords) {
  MftBitmap.ReDim(9);  // the $MFT's bitmap runs on past its 64 records
  SeenRecords.ReDim(9);
  MftBitmap(8) = 0xFF;
  ActiveBitmap_Vs_ActiveBitmapx();
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_TRUE(read_.empty());
}

}  // namespace
}  // namespace vr::test
