// Locating, reading and following FILE records on a synthetic MFT in memory:
// records split over two MFT segments, the record bitmaps, and attribute
// lists spread over several records, read raw and through the file system.
#include "ntfs/mft.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/file_record.h"
#include "ntfs/run_list.h"
#include "ntfs_test_support.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "synthetic_volume.h"
#include "volume/file_table.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

constexpr uint32_t kStd = 0x10, kList = 0x20, kName = 0x30, kData = 0x80, kRoot = 0x90,
                   kAlloc = 0xA0, kBitmap = 0xB0;

// 512-byte clusters, 1 KB records; the MFT in three segments, so that
// record 2 has its first sector in the first segment and its second in the
// next one. 46 records in all.
std::vector<RunSpec> MftLayout() { return {{5, 100}, {7, 300}, {80, 500}}; }

class MftTest : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    platform::ResetPlatform();
    Install_MFT_Hooks();
    Paint_20h_Hook = nullptr;
    CheckedScan = -1;
    VolumeSession.RecordsRead = 0;
    MftBitmap.ReDim(15);
    MftBitmap.Fill(0xFF);
    SeenRecords.ReDim(15);
    MftBitmapLengths.ReDim(0);
    MftBitmapLcns.ReDim(0);
    vol_.Apply();
  }
  void TearDown() override {
    Long h = VolumeSession.VolumeHandle;
    Close_Drive(h);
    VolumeSession.VolumeHandle = -1;
    VolumeSession.SharedMode = 0;
    VolumeSession.MftRunLengths.ReDim(0);
    VolumeSession.MftRunLcns.ReDim(0);
    UnregisterFakeDriver();
    platform::ResetPlatform();
    Paint_20h_Hook = nullptr;
    NtfsTest::TearDown();
  }

  static RecordBuilder Base(const std::u16string& name) {
    RecordBuilder r;
    r.StandardInformation(0x20);
    if (!name.empty()) r.FileName(name);
    return r;
  }

  // The record on the disk and, fixed up, in the fake file system.
  void Place(int64_t n, const std::vector<uint8_t>& bytes) {
    vol_.PutRecord(n, bytes);
    fs_.records[n] = FixedUp(bytes);
  }

  void Mount(bool shared) {
    if (shared) RegisterFakeDriver(fs_);
    vol_.Mount('m', shared);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
  }

  void Decode(Long n) {
    Decode_FILE(VolumeSession.VolumeHandle, n, lengths_, lcns_, buffer_, info_);
  }

  static bool Seen(int64_t n) { return (SeenRecords(n / 8) >> (n % 8)) & 1; }

  SyntheticVolume vol_{1, 2, 2048, MftLayout()};
  FakeFs fs_;
  VbArray<Long> lengths_, lcns_;
  ByteArray buffer_;
  RecordInfo info_;
};

// --- Locating records -------------------------------------------------------------------

TEST_F(MftTest, RecordSplitOverTwoSegmentsIsReadInTwoPiecesAndFixedUp) {
  // A filler attribute pushes the data attribute into the record's second
  // sector, which lies in the second MFT segment.
  RecordBuilder r = Base(u"split.txt");
  r.Resident(0x40, std::vector<uint8_t>(400, 0x5A));
  r.NonResident(kData, EncodeRuns({{3, 700}}), u"", 0, 1536, 1536, 1536, 0, 2);
  ASSERT_GT(r.AttributeOffset(3), 512u);
  Place(2, r.Bytes());
  Mount(false);

  Long left, next;
  EXPECT_EQ(FileBlock(2, left, next), 104);
  EXPECT_EQ(left, 1);
  EXPECT_EQ(next, 300);
  Decode(2);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(info_.Name, "split.txt");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{700}));
  EXPECT_EQ(info_.Size, 1536);
  EXPECT_EQ(VolumeSession.RecordsRead, 1);
}

TEST_F(MftTest, RecordInsideOneSegmentHasNoNextRun) {
  Long left, next;
  EXPECT_EQ(FileBlock(1, left, next), 102);
  EXPECT_EQ(left, 3);
  EXPECT_EQ(next, 0);
  EXPECT_EQ(FileBlock(3, left, next), 301);  // sector 6 of the MFT: 1 into segment 2
  EXPECT_EQ(left, 6);
  EXPECT_EQ(FileBlock(10, left, next), 500 + 20 - 12);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(MftTest, RecordNeedingThreeSegmentsIsRefused) {
  // 2 KB records: record 0 has two sectors in the first segment, one in the
  // second and would need one more from the third.
  SyntheticVolume v(1, 4, 2048, {{2, 10}, {1, 20}, {10, 30}});
  v.Apply();
  Long left, next;
  FileBlock(0, left, next);
  EXPECT_EQ(ErrorState.ErrorText, "FB > 2 $MFT");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Errors(), 1);
  ResetErrorState();
  ByteArray b;
  EXPECT_FALSE(Read_FILE(b, 0));  // no read is tried: there is no volume
  EXPECT_EQ(ErrorState.ErrorText, "FB > 2 $MFT");
  EXPECT_EQ(VolumeSession.RecordsRead, 0);
}

TEST_F(MftTest, OverflowWhileLocatingIsRaisedWithItsContext) {
  CheckedScan = 0;  // a Fast View: no in-use check first
  Long left, next;
  EXPECT_THROW(FileBlock(0x40000000, left, next), RunError);
  EXPECT_EQ(ErrorState.ErrorText, "Overflow");
  EXPECT_EQ(ErrorState.ErrorWhere, "FileBlock");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Errors(), 1);
}

TEST_F(MftTest, RecordFillingExactlyTwoSegmentsIsAccepted) {
  SyntheticVolume v(1, 4, 2048, {{3, 10}, {1, 20}, {10, 30}});
  v.Apply();
  Long left, next;
  EXPECT_EQ(FileBlock(0, left, next), 10);
  EXPECT_EQ(left, 3);
  EXPECT_EQ(next, 20);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(MftTest, RecordBeyondTheMftIsARecordedErrorWithoutARead) {
  Mount(false);
  EXPECT_EQ(Mft_Record_Count(), 46);
  Long left, next;
  EXPECT_EQ(FileBlock(46, left, next), 0);
  EXPECT_EQ(left, 0);
  ByteArray b;
  EXPECT_FALSE(Read_FILE(b, 46));
  EXPECT_EQ(ErrorState.ErrorText, "Beyond MFT");
  EXPECT_EQ(ErrorState.ErrorWhere, "LFB: 46");
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(VolumeSession.RecordsRead, 0);
  EXPECT_EQ(b.size(), 1024u);
}

TEST_F(MftTest, ShortReadOfARecordIsAFailedRead) {
  // The image ends inside record 20's second sector.
  Place(20, Base(u"cut.txt").Bytes());
  vol_.Image().resize(static_cast<size_t>(529) * 512 + 100);
  Mount(false);
  ByteArray b;
  EXPECT_FALSE(Read_FILE(b, 20));
  EXPECT_EQ(ErrorState.ErrorText, "Error reading MFT");
  EXPECT_EQ(ErrorState.ErrorWhere, "LFB: 20");
  EXPECT_EQ(Errors(), 1);
}

TEST_F(MftTest, MftSegmentsDefaultToTheFirst32ClustersBeforeRecordZero) {
  VolumeSession.MftRunLengths.ReDim(0);
  VolumeSession.MftRunLcns.ReDim(0);
  EXPECT_EQ(Mft_Record_Count(), 16);  // 32 sectors of 2
  Long left, next;
  EXPECT_EQ(FileBlock(3, left, next), 106);
}

// --- Record bitmaps ---------------------------------------------------------------------------

TEST_F(MftTest, PlaceholderBitmapMarksOnlyRecordsZeroToSeven) {
  MftBitmap.ReDim(0);
  MftBitmap(0) = 0xFF;
  SeenRecords.ReDim(0);
  ChkActive(3);
  ChkActive(9);
  EXPECT_EQ(SeenRecords(0), 0x08);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_TRUE(Is_Active(7));
  EXPECT_FALSE(Is_Active(8));
  EXPECT_FALSE(Is_Active(-1));
}

TEST_F(MftTest, RecordTheBitmapCallsFreeIsChkActive) {
  MftBitmap.Fill(0);
  MftBitmap(1) = 0x10;  // record 12 in use
  ChkActive(12);
  EXPECT_TRUE(Seen(12));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  ChkActive(13);
  EXPECT_FALSE(Seen(13));
  EXPECT_EQ(ErrorState.ErrorText, "ChkActive");
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(MftTest, MarkSeenIgnoresRecordsBeyondTheMap) {
  SeenRecords.ReDim(1);
  Mark_Seen(15);
  Mark_Seen(16);
  Mark_Seen(-3);
  EXPECT_EQ(SeenRecords(1), 0x80);
  EXPECT_EQ(SeenRecords.UBound(), 1);
}

TEST_F(MftTest, RecordZeroGivesTheMftSegmentsAndItsBitmapIsLoaded) {
  // Record 0 is read through the 32 clusters preset at MftLcn and gives the
  // segments every later record is found through.
  RecordBuilder r0 = Base(u"$MFT");
  r0.NonResident(kData, EncodeRuns(MftLayout()), u"", 0, 46 * 1024, 46 * 1024, 46 * 1024, 0, 45);
  r0.NonResident(kBitmap, EncodeRuns({{1, 900}, {1, 950}}), u"", 0, 12, 12, 1024, 0, 1);
  Place(0, r0.Bytes());
  std::vector<uint8_t> first(512), second(512);
  for (int i = 0; i < 512; ++i) {
    first[i] = static_cast<uint8_t>(i * 3 + 1);
    second[i] = static_cast<uint8_t>(255 - i);
  }
  first[0] = 0x07;  // records 0 to 2 in use
  vol_.PutBytes(900, first);
  vol_.PutBytes(950, second);
  Place(2, Base(u"after.txt").Bytes());
  Mount(false);
  VolumeSession.MftRunLengths.ReDim(0);
  VolumeSession.MftRunLcns.ReDim(0);
  MftBitmap.ReDim(0);
  MftBitmap(0) = 0xFF;
  SeenRecords.ReDim(0);

  Decode_FILE(VolumeSession.VolumeHandle, 0, VolumeSession.MftRunLengths, VolumeSession.MftRunLcns,
              buffer_, info_);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(Column(VolumeSession.MftRunLcns), (std::vector<int64_t>{100, 300, 500}));
  EXPECT_EQ(Column(MftBitmapLcns), (std::vector<int64_t>{900, 950}));
  EXPECT_EQ(SeenRecords(0), 0x01);

  Load_MFT_Bitmap();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  ASSERT_EQ(MftBitmap.size(), 1024u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), MftBitmap.data()));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), MftBitmap.data() + 512));
  EXPECT_EQ(SeenRecords.size(), 1024u);
  EXPECT_EQ(SeenRecords(0), 0x01);  // kept

  // Record 2 lies across the segments record 0 gave.
  Decode(2);
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(info_.Name, "after.txt");
  EXPECT_TRUE(Seen(2));
}

TEST_F(MftTest, FailedBitmapReadEndsTheLoad) {
  MftBitmapLengths.ReDim(1);
  MftBitmapLcns.ReDim(1);
  MftBitmapLengths(1) = 4;
  MftBitmapLcns(1) = 2046;  // runs past the 2048-cluster image
  Mount(false);
  Load_MFT_Bitmap();
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
  EXPECT_EQ(ErrorState.ReadFault, -1);
}

TEST_F(MftTest, BitmapOfMoreThan32767ClustersOverflows) {
  MftBitmapLengths.ReDim(2);
  MftBitmapLcns.ReDim(2);
  MftBitmapLengths(1) = 30000;
  MftBitmapLengths(2) = 3000;
  try {
    Load_MFT_Bitmap();
    FAIL() << "no overflow";
  } catch (const RunError& e) {
    EXPECT_EQ(e.Number(), kErrOverflow);
  }
}

// --- Attribute lists, raw and through the file system ------------------------------------------

class AttributeLists : public MftTest, public testing::WithParamInterface<bool> {
 protected:
  bool Shared() const { return GetParam(); }
};

TEST_P(AttributeLists, DataSpreadOverThreeRecordsIsGatheredInVcnOrder) {
  // The list names the extents out of VCN order; the name comes from an
  // extension record; a named stream lives beside the data.
  const auto list = AttributeList({{kStd, 0, 12},
                                   {kName, 0, 14},
                                   {kName, 0, 12},
                                   {kData, 0, 12},
                                   {kData, 20, 14},
                                   {kData, 8, 13},
                                   {kData, 0, 13, u"ads"}});
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list).FileName(u"LONGNA~1.DAT");
  base.NonResident(kData, EncodeRuns({{8, 1000}}), u"", 0, 123456, 123456, 30 * 512, 0, 7);
  RecordBuilder e13;
  e13.NonResident(kData, EncodeRuns({{12, 1100}}), u"", 0, 0, 0, 0, 8, 19);
  e13.NonResident(kData, EncodeRuns({{4, 1500}}), u"ads", 0, 2048, 2048, 2048, 0, 3);
  RecordBuilder e14;
  e14.FileName(u"Long Name.dat");
  e14.NonResident(kData, EncodeRuns({{5, 1200}, {5, 1205}}), u"", 0, 0, 0, 0, 20, 29);
  Place(12, base.Bytes());
  Place(13, Extension(e13, 12));
  Place(14, Extension(e14, 12));
  Mount(Shared());

  Decode(12);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
  EXPECT_EQ(info_.HasAttributeList, -1);
  EXPECT_EQ(info_.Name, "Long Name.dat");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1000, 1100, 1200, 1205}));
  EXPECT_EQ(Column(lengths_), (std::vector<int64_t>{8, 12, 5, 5}));
  EXPECT_EQ(info_.Clusters, 30);
  EXPECT_EQ(info_.Size, 123456);
  EXPECT_EQ(info_.Compressed, 0);
  EXPECT_EQ(info_.IsDirectory, 0);
  EXPECT_EQ(Count_Fragments(lengths_, lcns_), 3);
  // The base record and both extensions are seen, whichever way they were read.
  EXPECT_TRUE(Seen(12));
  EXPECT_TRUE(Seen(13));
  EXPECT_TRUE(Seen(14));
  EXPECT_FALSE(Seen(15));
  if (Shared()) {
    EXPECT_EQ(fs_.requests[nt::FSCTL_GET_NTFS_FILE_RECORD], 3);
  }
  EXPECT_EQ(VolumeSession.RecordsRead, 3);  // each record read once
}

TEST_P(AttributeLists, FolderIndexAllocationAcrossRecords) {
  const auto list = AttributeList({{kStd, 0, 15},
                                   {kName, 0, 15},
                                   {kRoot, 0, 15, u"$I30"},
                                   {kAlloc, 0, 15, u"$I30"},
                                   {kAlloc, 4, 16, u"$I30"},
                                   {kBitmap, 0, 15, u"$I30"}});
  RecordBuilder base;
  base.StandardInformation(0x10).Resident(kList, list).FileName(u"big folder");
  base.IndexRoot(u"$I30", 4096);
  base.NonResident(kAlloc, EncodeRuns({{4, 1300}}), u"$I30", 0, 32768, 32768, 32768, 0, 3);
  RecordBuilder e16;
  e16.NonResident(kAlloc, EncodeRuns({{4, 1400}}), u"$I30", 0, 0, 0, 0, 4, 7);
  Place(15, base.Bytes());
  Place(16, Extension(e16, 15));
  Mount(Shared());

  Decode(15);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
  EXPECT_EQ(info_.IsDirectory, -1);
  EXPECT_EQ(info_.Name, "big folder");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1300, 1400}));
  EXPECT_EQ(info_.Clusters, 8);
  EXPECT_EQ(info_.Size, 32768);  // allocated size of the index
  EXPECT_TRUE(Seen(16));
}

TEST_P(AttributeLists, NonResidentListIsReadFromItsClustersAndPainted) {
  const auto list = AttributeList(
      {{kStd, 0, 20}, {kName, 0, 20}, {kData, 0, 20}, {kData, 2, 21}, {kData, 5, 22}});
  vol_.PutBytes(1600, list);
  RecordBuilder base;
  base.StandardInformation(0x20);
  base.NonResident(kList, EncodeRuns({{1, 1600}}), u"", 0, static_cast<int64_t>(list.size()),
                   static_cast<int64_t>(list.size()), 512, 0, 0);
  base.FileName(u"nr.bin");
  base.NonResident(kData, EncodeRuns({{2, 1700}}), u"", 0, 4000, 4000, 4096, 0, 1);
  RecordBuilder e21, e22;
  e21.NonResident(kData, EncodeRuns({{3, 1800}}), u"", 0, 0, 0, 0, 2, 4);
  e22.NonResident(kData, EncodeRuns({{1, 1900}}), u"", 0, 0, 0, 0, 5, 5);
  Place(20, base.Bytes());
  Place(21, Extension(e21, 20));
  Place(22, Extension(e22, 20));
  std::vector<int64_t> painted;
  Paint_20h_Hook = [&](const VbArray<Long>&, const VbArray<Long>& lcns) { painted = Column(lcns); };
  Mount(Shared());

  Decode(20);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
  EXPECT_EQ(painted, (std::vector<int64_t>{1600}));
  EXPECT_EQ(info_.Name, "nr.bin");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1700, 1800, 1900}));
  EXPECT_EQ(info_.Clusters, 6);
  EXPECT_EQ(info_.Size, 4000);
  EXPECT_TRUE(Seen(21));
  EXPECT_TRUE(Seen(22));
}

TEST_P(AttributeLists, ListNamingARecordBeyondTheMftIsAnError) {
  const auto list = AttributeList({{kStd, 0, 12}, {kName, 0, 12}, {kData, 0, 5000}});
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list).FileName(u"far.bin");
  Place(12, base.Bytes());
  Mount(Shared());
  Decode(12);
  EXPECT_EQ(ErrorState.ErrorText, "Beyond MFT");
  EXPECT_EQ(ErrorState.ErrorWhere, "Do_20h: 5000");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(lengths_.UBound(), 0);  // the walk ended at the list: nothing gathered
}

TEST_P(AttributeLists, ExtensionOfAnotherFileIsRefused) {
  const auto list = AttributeList({{kStd, 0, 12}, {kName, 0, 12}, {kData, 0, 13}});
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list).FileName(u"a.bin");
  RecordBuilder e13;
  e13.NonResident(kData, EncodeRuns({{3, 1100}}), u"", 0, 1536, 1536, 1536, 0, 2);
  Place(12, base.Bytes());
  Place(13, Extension(e13, 30));  // belongs to record 30
  Mount(Shared());
  Decode(12);
  EXPECT_EQ(ErrorState.ErrorText, "Base");
  EXPECT_EQ(ErrorState.ErrorWhere, "Do_x0h: 13");
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_P(AttributeLists, RecordsNamedForOtherAttributesAreMarkedSeen) {
  const auto list = AttributeList({{kStd, 0, 12}, {kName, 0, 40}, {kData, 0, 30}});
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list);
  base.NonResident(kData, EncodeRuns({{2, 1700}}), u"", 0, 1000, 1000, 1024, 0, 1);
  RecordBuilder e12, e40;
  e12.Resident(kStd, std::vector<uint8_t>(0x48, 0));
  e40.FileName(u"named.txt");
  Place(30, base.Bytes());
  Place(12, Extension(e12, 30));
  Place(40, Extension(e40, 30));
  Mount(Shared());
  Decode(30);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
  EXPECT_EQ(info_.Name, "named.txt");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1700}));
  EXPECT_TRUE(Seen(12));
  EXPECT_TRUE(Seen(40));
  EXPECT_TRUE(Seen(30));
}

TEST_P(AttributeLists, DamagedEntryLengthIsSkip) {
  auto list = AttributeList({{kStd, 0, 12}, {kName, 0, 23}, {kData, 0, 12}});
  Put(list, 0x20 + 4, 0, 2);  // the second entry claims length 0
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list).FileName(u"x");
  Place(12, base.Bytes());
  Mount(Shared());
  Decode(12);
  EXPECT_EQ(ErrorState.ErrorText, "Skip");
  EXPECT_EQ(ErrorState.ErrorWhere, "Do_20h: 12");
  EXPECT_FALSE(Seen(23));  // nothing acted on
}

TEST_P(AttributeLists, MissingAttributeInTheExtensionIsKind) {
  const auto list = AttributeList({{kStd, 0, 12}, {kName, 0, 12}, {kData, 0, 13}});
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list).FileName(u"k.bin");
  RecordBuilder e13;
  e13.Resident(0x40, std::vector<uint8_t>(16, 1));
  Place(12, base.Bytes());
  Place(13, Extension(e13, 12));
  Mount(Shared());
  Decode(12);
  EXPECT_EQ(ErrorState.ErrorText, "Kind");
}

TEST_P(AttributeLists, CompressedFlagComesFromTheFirstDataExtent) {
  const auto list = AttributeList({{kStd, 0, 12}, {kName, 0, 12}, {kData, 0, 13}, {kData, 16, 12}});
  RecordBuilder base;
  base.StandardInformation(0x20).Resident(kList, list).FileName(u"c.bin");
  base.NonResident(kData, EncodeRuns({{4, 1200}, {12, -1}}), u"", 1, 0, 0, 0, 16, 31);
  RecordBuilder e13;
  e13.NonResident(kData, EncodeRuns({{16, 1100}}), u"", 1, 65536, 65536, 65536, 0, 15);
  Place(12, base.Bytes());
  Place(13, Extension(e13, 12));
  Mount(Shared());
  Decode(12);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
  EXPECT_EQ(info_.Compressed, -1);
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1100, 1200}));
  EXPECT_EQ(info_.Clusters, 20);
  EXPECT_EQ(info_.SparseClusters, 12);
  EXPECT_EQ(info_.Size, 65536);  // the later extent in the base record changes nothing
}

TEST_P(AttributeLists, ListLongerThan64KBIsReadToItsEnd) {
  // 2100 entries: the data extent named last lies beyond the first 64 KB.
  std::vector<ListEntrySpec> specs{{kStd, 0, 20}, {kName, 0, 20}};
  for (int i = 0; i < 2100; ++i) specs.push_back({0x40, 0, 20});
  specs.push_back({kData, 0, 21});
  const auto list = AttributeList(specs);
  ASSERT_GT(list.size(), 65536u);
  const int64_t clusters = static_cast<int64_t>((list.size() + 511) / 512);
  vol_.PutBytes(1000, list);
  RecordBuilder base;
  base.StandardInformation(0x20);
  base.NonResident(kList, EncodeRuns({{clusters, 1000}}), u"", 0, static_cast<int64_t>(list.size()),
                   static_cast<int64_t>(list.size()), clusters * 512, 0, clusters - 1);
  base.FileName(u"long list.bin");
  RecordBuilder e21;
  e21.NonResident(kData, EncodeRuns({{7, 1900}}), u"", 0, 3500, 3500, 3584, 0, 6);
  Place(20, base.Bytes());
  Place(21, Extension(e21, 20));
  Mount(Shared());
  Decode(20);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText << " " << ErrorState.ErrorWhere;
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1900}));
  EXPECT_EQ(info_.Size, 3500);
  EXPECT_TRUE(Seen(21));
}

TEST_P(AttributeLists, SparseRunInANonResidentListIsAnError) {
  RecordBuilder base;
  base.StandardInformation(0x20);
  base.NonResident(kList, EncodeRuns({{1, 1600}, {1, -1}, {1, 1601}}), u"", 0, 1000, 1000, 1536, 0,
                   2);
  base.FileName(u"holey list.bin");
  Place(20, base.Bytes());
  Mount(Shared());
  Decode(20);
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  EXPECT_EQ(ErrorState.ErrorWhere, "Load_20h_Data");
}

TEST_P(AttributeLists, ListClaimingMoreThanNtfsAllowsIsAnErrorNotAnAllocation) {
  RecordBuilder base;
  base.StandardInformation(0x20);
  // 600 clusters of 512 bytes: 300 KB, beyond the 256 KB NTFS allows.
  base.NonResident(kList, EncodeRuns({{600, 1000}}), u"", 0, 307200, 307200, 307200, 0, 599);
  base.FileName(u"huge list.bin");
  Place(20, base.Bytes());
  Mount(Shared());
  Decode(20);
  EXPECT_EQ(ErrorState.ErrorText, "SegErr");
  EXPECT_EQ(ErrorState.ErrorWhere, "Load_20h_Data");
}

INSTANTIATE_TEST_SUITE_P(Modes, AttributeLists, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) {
                           return p.param ? std::string("Shared") : std::string("Exclusive");
                         });

TEST_F(MftTest, AttributeFromAnotherRecordWithoutIt) {
  RecordBuilder e13;
  e13.Resident(0x40, std::vector<uint8_t>(16, 1));
  Place(13, Extension(e13, 12));
  Mount(false);
  VbArray<Long> lengths(10), lcns(10);
  Long size = 0, clusters = 0;
  Integer count = 0, dir = 0;
  Do_x0h(kData, 0, 13, lengths, lcns, size, count, clusters, dir, 12);
  EXPECT_EQ(ErrorState.ErrorText, "Kind");
}

// --- Folder paths ------------------------------------------------------------------------------

TEST(FolderPath, NamesJoinedFromTheRoot) {
  FolderTable.ReDim(3);
  FolderTable(0) = {-1, "C:"};
  FolderTable(1) = {0, "DIR"};
  FolderTable(2) = {1, "SUB"};
  FolderTable(3) = {0, "OTHER"};
  EXPECT_EQ(Folder_Path(0), "C:");
  EXPECT_EQ(Folder_Path(2), "C:\\DIR\\SUB");
  EXPECT_EQ(Folder_Path(3), "C:\\OTHER");
  FolderTable.ReDim(0);
}

TEST(FolderPath, DamagedChainEndsInARunTimeError) {
  FolderTable.ReDim(2);
  FolderTable(0) = {-1, "C:"};
  FolderTable(1) = {2, "A"};
  FolderTable(2) = {1, "B"};
  EXPECT_THROW(Folder_Path(1), RunError);
  FolderTable(2) = {7, "B"};
  EXPECT_THROW(Folder_Path(2), RunError);
  FolderTable.ReDim(0);
}

}  // namespace
}  // namespace vr::test
