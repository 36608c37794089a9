// The bookkeeping of one decoded record: the data attribute checked against
// the decoded runs, the file-table row and the counters, and which of the
// fragmented counters a file falls into.
#include <gtest/gtest.h>

#include "ntfs/ntfs_scan.h"
#include "ntfs_test_support.h"
#include "runtime/bytes.h"
#include "volume/file_table.h"
#include "volume/recording_window.h"
#include "volume/report.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

// A FILE record holding one attribute at 0x38 (then the end marker).
ByteArray RecordWith(int type, int length, bool nonResident, int64_t startVcn, int64_t lastVcn,
                     int nameLength = 0) {
  ByteArray b(1023);
  const MutableBytes m = b.Span();
  PutU16(m, 20, 0x38);
  PutU32(m, 24, 0x38 + length + 8);
  PutU32(m, 0x38, static_cast<uint32_t>(type));
  PutU32(m, 0x38 + 4, static_cast<uint32_t>(length));
  PutU8(m, 0x38 + 8, nonResident ? 1 : 0);
  PutU8(m, 0x38 + 9, static_cast<uint8_t>(nameLength));
  if (nonResident) {
    PutU64(m, 0x38 + 16, static_cast<uint64_t>(startVcn));
    PutU64(m, 0x38 + 24, static_cast<uint64_t>(lastVcn));
  }
  PutU32(m, 0x38 + length, 0xFFFFFFFFu);
  return b;
}

RecordInfo Info(Long clusters, Long sparse = 0) {
  RecordInfo i{};
  i.Clusters = clusters;
  i.SparseClusters = sparse;
  i.Name = "file.bin";
  return i;
}

using CheckRecord = NtfsTest;

TEST_F(CheckRecord, LastVcnMustCoverAllocatedAndSparseClusters) {
  const ByteArray r = RecordWith(0x80, 72, true, 0, 9);
  EXPECT_FALSE(Check_Record(20, Info(10), r));
  EXPECT_TRUE(Check_Record(20, Info(9), r));
  EXPECT_FALSE(Check_Record(20, Info(6, 4), r));  // sparse or compressed
  EXPECT_TRUE(Check_Record(20, Info(6, 3), r));
}

TEST_F(CheckRecord, LastVcnIsComparedInFull) {
  // Only the low 24 bits agree with the clusters.
  const ByteArray r = RecordWith(0x80, 72, true, 0, 0x1000009);
  EXPECT_TRUE(Check_Record(20, Info(10), r));
}

TEST_F(CheckRecord, RecordsThatAlwaysPass) {
  EXPECT_FALSE(Check_Record(20, Info(0), RecordWith(0x80, 72, true, 0, 99)));  // no clusters
  EXPECT_FALSE(Check_Record(20, Info(5), RecordWith(0x20, 72, true, 0, 99)));  // attribute list
  EXPECT_FALSE(Check_Record(20, Info(5), RecordWith(0x80, 48, false, 0, 0)));  // resident
  EXPECT_FALSE(Check_Record(20, Info(5), RecordWith(0x80, 72, true, 7, 99)));  // later extent
  RecordInfo folder = Info(5);
  folder.IsDirectory = kTrue;
  EXPECT_FALSE(Check_Record(20, folder, RecordWith(0x80, 72, true, 0, 99)));
}

TEST_F(CheckRecord, DamagedOrMissingDataAttributeFails) {
  ByteArray huge = RecordWith(0x80, 72, true, 0, 4);
  PutU32(huge.Span(), 0x38 + 4, 0x8000);
  EXPECT_TRUE(Check_Record(20, Info(5), huge));
  // A record whose used size ends before any decision.
  ByteArray r = RecordWith(0x10, 72, false, 0, 0);
  PutU32(r.Span(), 24, 0x38 + 72);
  EXPECT_TRUE(Check_Record(20, Info(5), r));
}

TEST_F(CheckRecord, NamedStreamDoesNotDecide) {
  // A named $DATA (runs for 100 clusters) before the unnamed one (5).
  for (const int64_t unnamedLast : {4, 7}) {
    ByteArray r = RecordWith(0x80, 80, true, 0, 99, 3);
    const MutableBytes m = r.Span();
    const int at = 0x38 + 80;
    PutU32(m, 24, at + 72 + 8);
    PutU32(m, at, 0x80);
    PutU32(m, at + 4, 72);
    PutU8(m, at + 8, 1);
    PutU8(m, at + 9, 0);
    PutU64(m, at + 16, 0);
    PutU64(m, at + 24, static_cast<uint64_t>(unnamedLast));
    PutU32(m, at + 72, 0xFFFFFFFFu);
    EXPECT_EQ(Check_Record(20, Info(5), r), unnamedLast != 4) << unnamedLast;
  }
}

class TallyRecord : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    SetMainWindow(&main_);
    ntfs::Reset_Counters();
    FirstUserRecord = 11;
    RecordCount = 64;
    for (auto* a : {&FileFlags, &DoNotMove, &MoveDelayed}) a->ReDim(63);
    FileNames.ReDim(63);
    FragmentState.ReDim(63);
    ClusterCount.ReDim(63);
    FirstLcn.ReDim(63);
    FolderIndex.ReDim(63);
  }
  void TearDown() override {
    SetMainWindow(nullptr);
    NtfsTest::TearDown();
  }
  // Segments given as (lcn, length) pairs.
  void Segs(std::initializer_list<std::pair<int, int>> runs) {
    lengths_.ReDim(static_cast<int64_t>(runs.size()));
    lcns_.ReDim(static_cast<int64_t>(runs.size()));
    int64_t i = 1;
    for (auto [lcn, len] : runs) {
      lcns_(i) = lcn;
      lengths_(i++) = len;
    }
  }
  RecordingMainWindow main_;
  VbArray<Long> lengths_{0}, lcns_{0};
};

TEST_F(TallyRecord, FragmentedFilesFallIntoExactlyOneCounter) {
  Segs({{500, 4}, {100, 2}});
  RecordInfo i = Info(6);
  i.HasAttributeList = kTrue;
  i.Compressed = kTrue;
  Tally_Record(20, i, lengths_, lcns_);
  EXPECT_EQ(ntfs::FragAttrList, 1);
  EXPECT_EQ(ntfs::FragCompressed, 0);
  i.HasAttributeList = 0;
  Tally_Record(21, i, lengths_, lcns_);
  EXPECT_EQ(ntfs::FragCompressed, 1);
  EXPECT_EQ(ntfs::CompressedCount, 2);
  i.Compressed = 0;
  Tally_Record(22, i, lengths_, lcns_);
  EXPECT_EQ(ntfs::FragPlain, 1);
  i.IsDirectory = kTrue;
  i.HasAttributeList = kTrue;
  Tally_Record(23, i, lengths_, lcns_);
  EXPECT_EQ(ntfs::FragFolders, 1);
  EXPECT_EQ(ntfs::FragAttrList, 1);
  EXPECT_EQ(ntfs::FileCount, 3);
  EXPECT_EQ(ntfs::FolderTotal, 1);
  EXPECT_EQ(FragmentState(22), 3);
  EXPECT_EQ(ClusterCount(22), 6);
  EXPECT_EQ(FirstLcn(22), 100);  // the lowest, not the first
}

TEST_F(TallyRecord, SystemRecordsAreUnmovableAndNeverFragmented) {
  Segs({{500, 4}, {100, 2}});
  RecordInfo i = Info(6);
  i.DosAttributes = 0x06;
  Tally_Record(2, i, lengths_, lcns_);
  EXPECT_EQ(ntfs::FragPlain, 0);
  EXPECT_EQ(ntfs::FileCount, 1);
  EXPECT_EQ(FileFlags(2), kFlagUnmovable | kFlagSystem);
}

TEST_F(TallyRecord, ContiguousAndEmptyRecords) {
  Segs({{100, 4}, {104, 2}});  // touching runs: one fragment
  Tally_Record(30, Info(6), lengths_, lcns_);
  EXPECT_EQ(FragmentState(30), 2);
  EXPECT_EQ(ntfs::FragPlain, 0);
  Segs({});
  Tally_Record(31, Info(0), lengths_, lcns_);
  EXPECT_EQ(FragmentState(31), 1);  // decoded, without clusters
  RecordInfo unnamed = Info(0);
  unnamed.Name.clear();
  Tally_Record(32, unnamed, lengths_, lcns_);
  EXPECT_EQ(DoNotMove(32), 1);
  EXPECT_EQ(ntfs::FileCount, 2);
}

TEST_F(TallyRecord, PagefileIsUnmovableOnlyOnASharedVolume) {
  Segs({{100, 4}});
  RecordInfo i = Info(4);
  i.Name = "PageFile.sys";
  Tally_Record(40, i, lengths_, lcns_);
  EXPECT_EQ(FileFlags(40) & kFlagUnmovable, 0);
  VolumeSession.SharedMode = kTrue;
  Tally_Record(41, i, lengths_, lcns_);
  EXPECT_NE(FileFlags(41) & kFlagUnmovable, 0);
}

TEST_F(TallyRecord, FastTallyCountsWithoutTheTable) {
  Segs({{500, 4}, {100, 2}});
  RecordInfo i = Info(6);
  Tally_Fast(3, i, lengths_, lcns_);  // a system file: not the user's, never fragmented
  Tally_Fast(30, i, lengths_, lcns_);
  EXPECT_EQ(ntfs::FileCount, 1);
  EXPECT_EQ(ntfs::FragPlain, 1);
  EXPECT_EQ(FragmentState(30), 0);
  EXPECT_TRUE(FileNames(30).empty());
}

TEST_F(TallyRecord, ListedFilesShowPathAndSize) {
  Start_Folders("C:");
  const Integer docs = Add_Folder(0, "docs");
  Segs({{500, 4}, {100, 2}});
  Tally_Record(30, Info(6), lengths_, lcns_);
  FolderIndex(30) = docs;
  ntfs::FragmentedFiles = 1;
  List_Unmovable(30, Info(6));
  DoNotMove(31) = 1;
  FileNames(31) = "held.db";
  FolderIndex(31) = 0;
  List_Unmovable(31, Info(6));
  EXPECT_EQ(main_.Items(Control::Raw),
            (std::vector<std::string>{"C:\\docs\\file.bin (" + SizeText(6 * 8) + ")",
                                      "C:\\held.db (busy)"}));
  EXPECT_EQ(ntfs::UnmovableFragmented, 1);
  EXPECT_EQ(ntfs::FragmentedFiles, 0);
}

TEST(FolderTable, GrowsByAHundredAndKeepsParents) {
  Start_Folders("C:");
  Integer last = 0;
  for (int i = 0; i < 250; ++i) last = Add_Folder(last, "f" + std::to_string(i));
  EXPECT_EQ(FolderCount, 250);
  EXPECT_GE(FolderTable.UBound(), 250);
  EXPECT_EQ(FolderTable(250).Parent, 249);
  EXPECT_EQ(Folder_Path(2), "C:\\f0\\f1");
}

}  // namespace
}  // namespace vr::test
